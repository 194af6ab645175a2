// The package check of a keyed starter: a package is unpacked only when its
// leading signature verifies under one of the build's public keys and
// describes exactly the bytes that follow it (and, when the run asked for
// one, the version it installs).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "code/setuphandler/setuphandler.h"
#include "code/setuphandler/setupinterface.h"
#include "code/utility/log/logsink.h"
#include "code/utility/protect/buildsettings.h"
#include "code/utility/protect/cngcrypto_win.h"
#include "code/utility/protect/packagesignature.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/system/scopedhandle_win.h"

namespace {
const char kSource[] = "code/setuphandler/setuphandler";
const char kFunction[] = "SetupHandler::VerifyPackage";
constexpr std::size_t kReadChunk = 64 * 1024;

// Why a package could not be checked at all, or null when it was read whole.
const char* ReadThrough(const char* sPackage, PackageSignature::PackageChecker& checker) {
  const std::wstring w = Utility::ToWidePath(sPackage);
  ScopedStdioFile file(w.empty() ? nullptr : _wfopen(w.c_str(), L"rb"));
  if (!file) return "it cannot be opened";
  std::vector<unsigned char> aBuffer(kReadChunk);
  for (;;) {
    const std::size_t n = std::fread(aBuffer.data(), 1, aBuffer.size(), file.Get());
    if (n > 0 && !checker.Feed(aBuffer.data(), n)) return nullptr;  // Finish says why
    if (n < aBuffer.size()) return std::ferror(file.Get()) ? "it cannot be read" : nullptr;
  }
}
}  // namespace

bool SetupHandler::VerifyPackage(const char* sPackage) {
  const char* sKeys = BuildSettings::PackagePublicKeys();
  if (sKeys == nullptr || *sKeys == '\0') return true;  // an unkeyed build installs what it gets

  std::string sWhy;
  PackageSignature::TrustedKeys keys;
  std::string sKeyError;
  if (!PackageSignature::ParsePublicKeyList(sKeys, &keys, &sKeyError) || keys.iCount == 0) {
    // Configure checks the setting; a build that still cannot read it trusts nothing.
    sWhy = "the build's public keys cannot be read: " + sKeyError;
  } else {
    CngCrypto::Sha256 hasher;
    CngCrypto::Verifier verifier;
    PackageSignature::PackageChecker checker(hasher);
    if (const char* sReadError = ReadThrough(sPackage, checker)) {
      sWhy = sReadError;
    } else {
      const PackageSignature::Result result = checker.Finish(keys, m_sVersion, verifier);
      const std::string sDescription = PackageSignature::Describe(result, m_sVersion);
      if (result.verdict == PackageSignature::Verdict::kOk) {
        QV_LOG(kFunction, 0, kSource, "%s: %s", sPackage, sDescription.c_str());
        return true;
      }
      sWhy = sDescription;
    }
  }

  QV_LOG(kFunction, 0, kSource, "%s refused: %s", sPackage, sWhy.c_str());
  // A refused package is not left for a later run (or a curious user) to start.
  const std::wstring w = Utility::ToWidePath(sPackage);
  if (!w.empty() && !DeleteFileW(w.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    QV_LOG(kFunction, 0, kSource, "can't delete %s, error code: %lu", sPackage, GetLastError());
  }
  char sText[Limits::kValue];
  snprintf(sText, sizeof(sText), "Unable to verify %s. Please try it again", m_sClientName);
  if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, sText);
  return false;
}
