// qvpack: makes and inspects client package archives.
//
//   qvpack pack [--level N] <folder> <archive>   every file under folder, names with "\\"
//   qvpack list <archive>                        one line per member: name, data length, mask
//   qvpack check <archive>                       inflates every member, writes nothing
//   qvpack publish [--level N] [--key K --version V] <folder> <root>
//                                                a package (signed with --key) for a web server
//   qvpack keygen | sign | verify                package signatures (Linux builds: OpenSSL)
//
// Exit status 0 on success, 1 on a damaged archive or a failed step, 2 on usage.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "code/utility/archive/archive.h"
#include "code/utility/log/logsink.h"
#include "tools/qvpack/publish.h"
#ifdef QVPACK_SIGNING
#include "tools/qvpack/signing/signcommands.h"
#endif

namespace fs = std::filesystem;

namespace {
int Usage() {
  std::fprintf(stderr,
               "usage: qvpack pack [--level N] <folder> <archive>\n"
               "       qvpack list <archive>\n"
               "       qvpack check <archive>\n"
               "       qvpack publish [--level N] [--key <private.pem> --version <v>] <folder> <root>\n"
               "       qvpack keygen | sign | verify ...  (Linux build; without arguments: their usage)\n");
  return 2;
}

void LogToStderr(const char*, int, const char*, int, const char* sMessage) {
  std::fprintf(stderr, "qvpack: %s\n", sMessage);
}

std::string MemberName(const fs::path& relative) {
  const auto u8 = relative.generic_u8string();
  std::string sName(u8.begin(), u8.end());
  std::replace(sName.begin(), sName.end(), '/', '\\');
  return sName;
}

int Pack(const fs::path& folder, const fs::path& archive, int iLevel) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    std::fprintf(stderr, "qvpack: not a folder: %s\n", folder.u8string().c_str());
    return 1;
  }
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(fs::relative(it->path(), folder, ec));
  }
  if (ec) {
    std::fprintf(stderr, "qvpack: cannot read %s: %s\n", folder.u8string().c_str(), ec.message().c_str());
    return 1;
  }
  std::sort(files.begin(), files.end());

  const fs::path temp = archive.string() + ".tmp";
  std::FILE* pOut = std::fopen(temp.string().c_str(), "wb");
  if (!pOut) {
    std::fprintf(stderr, "qvpack: cannot create %s\n", temp.u8string().c_str());
    return 1;
  }
  bool bOk = true;
  for (const auto& rel : files) {
    const std::string sName = MemberName(rel);
    const auto verdict = PackageArchive::CheckMemberName(sName);
    if (verdict != PackageArchive::NameVerdict::kOk || sName.size() + 1 > PackageArchive::kMaxNameLength) {
      std::fprintf(stderr, "qvpack: name not allowed in a package (%s): %s\n",
                   verdict == PackageArchive::NameVerdict::kOk ? "too long" : PackageArchive::DescribeVerdict(verdict),
                   sName.c_str());
      bOk = false;
      break;
    }
    std::ifstream in(folder / rel, std::ios::binary);
    const std::string sData((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "qvpack: cannot read %s\n", sName.c_str());
      bOk = false;
      break;
    }
    const std::string sRecord = PackageArchive::PackRecord(sName, sData, 0, iLevel);
    if (sRecord.empty() || std::fwrite(sRecord.data(), 1, sRecord.size(), pOut) != sRecord.size()) {
      std::fprintf(stderr, "qvpack: cannot write %s\n", sName.c_str());
      bOk = false;
      break;
    }
  }
  if (std::fclose(pOut) != 0) bOk = false;
  if (bOk) {
    fs::rename(temp, archive, ec);
    if (ec) {
      std::fprintf(stderr, "qvpack: cannot rename to %s: %s\n", archive.u8string().c_str(), ec.message().c_str());
      bOk = false;
    }
  }
  if (!bOk) {
    fs::remove(temp, ec);
    return 1;
  }
  std::printf("%zu members\n", files.size());
  return 0;
}

void PrintRecord(const PackageArchive::RecordInfo& info, void*) {
  std::printf("%s\t%u\t%u\n", info.sName.c_str(), static_cast<unsigned>(info.iDataLength),
              static_cast<unsigned>(info.iFileMask));
}

int List(const char* sArchive) {
  std::FILE* pIn = std::fopen(sArchive, "rb");
  if (!pIn) {
    std::fprintf(stderr, "qvpack: cannot open %s\n", sArchive);
    return 1;
  }
  PackageArchive::FileSource source(pIn);
  std::string sError;
  const bool bOk = PackageArchive::ListRecords(source, &PrintRecord, nullptr, &sError);
  std::fclose(pIn);
  if (!bOk) std::fprintf(stderr, "qvpack: %s\n", sError.c_str());
  return bOk ? 0 : 1;
}

// Inflates into nothing: only counts, so a check never touches the disk.
struct CountingSink : PackageArchive::Sink {
  std::string sCurrent;
  unsigned long long iBytes = 0;
  unsigned iMembers = 0, iRefused = 0;
  int CreateFolders(const std::string&) override { return 0; }
  bool BeginFile(const std::string& sTarget) override {
    sCurrent = sTarget;
    iBytes = 0;
    return true;
  }
  std::size_t WriteFile(const void*, std::size_t n) override {
    iBytes += n;
    return n;
  }
  bool CommitFile() override {
    std::printf("ok\t%s\t%llu\n", sCurrent.c_str() + 2, iBytes);  // without the "." destination
    ++iMembers;
    return true;
  }
  void DiscardFile() override { std::printf("damaged\t%s\n", sCurrent.c_str() + 2); }
  void ReportFailed(const std::string& sTarget) override {
    std::printf("refused\t%s\n", sTarget.c_str() + 2);
    ++iRefused;
  }
  // Beyond the starter's report lines the refused members are only counted.
  void ReportOmitted(std::uint32_t iCount) override {
    std::printf("refused\t%u more\n", static_cast<unsigned>(iCount));
    iRefused += iCount;
  }
};

int Check(const char* sArchive) {
  std::FILE* pIn = std::fopen(sArchive, "rb");
  if (!pIn) {
    std::fprintf(stderr, "qvpack: cannot open %s\n", sArchive);
    return 1;
  }
  PackageArchive::FileSource source(pIn);
  CountingSink sink;
  const bool bComplete = PackageArchive::Extract(source, ".", sink);
  std::fclose(pIn);
  std::printf("%s: %u members written, %u refused\n", bComplete ? "complete" : "damaged", sink.iMembers,
              sink.iRefused);
  return (bComplete && sink.iRefused == 0) ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  LogSink::SetWriter(&LogToStderr);
  if (argc < 2) return Usage();
  const std::string sCommand = argv[1];
  if (sCommand == "pack") {
    int iLevel = 6;
    int i = 2;
    if (argc > i + 1 && std::strcmp(argv[i], "--level") == 0) {
      iLevel = std::atoi(argv[i + 1]);
      if (iLevel < 0 || iLevel > 9) return Usage();
      i += 2;
    }
    if (argc != i + 2) return Usage();
    return Pack(fs::u8path(argv[i]), fs::u8path(argv[i + 1]), iLevel);
  }
  if (sCommand == "list" && argc == 3) return List(argv[2]);
  if (sCommand == "check" && argc == 3) return Check(argv[2]);
#ifdef QVPACK_SIGNING
  if (sCommand == "publish") return QvPublish::Run(argc, argv, &Pack, &SigningCommands::SignPackage);
#else
  if (sCommand == "publish") return QvPublish::Run(argc, argv, &Pack, nullptr);
#endif
  if (sCommand == "keygen" || sCommand == "sign" || sCommand == "verify") {
#ifdef QVPACK_SIGNING
    return SigningCommands::Run(argc, argv);
#else
    std::fprintf(stderr, "qvpack: %s needs OpenSSL: use the Linux build of qvpack\n", argv[1]);
    return 2;
#endif
  }
  return Usage();
}
