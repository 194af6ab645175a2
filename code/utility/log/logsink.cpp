#include "code/utility/log/logsink.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace LogSink {
namespace {
std::atomic<Writer> g_pWriter{nullptr};
}

void SetWriter(Writer pWriter) { g_pWriter.store(pWriter); }
Writer GetWriter() { return g_pWriter.load(); }

std::string FormatV(const char* sFormat, va_list args) {
  std::string sMessage;
  if (sFormat == nullptr) return sMessage;
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, sFormat, copy);
  va_end(copy);
  if (n > 0) {
    sMessage.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(&sMessage[0], sMessage.size(), sFormat, args);
    sMessage.resize(static_cast<std::size_t>(n));
  }
  return sMessage;
}

void Write(const char* sFunction, int iSeverity, const char* sSource, int iLine, const char* sFormat, ...) {
  Writer pWriter = g_pWriter.load();
  if (pWriter == nullptr || sFormat == nullptr) return;
  va_list args;
  va_start(args, sFormat);
  const std::string sMessage = FormatV(sFormat, args);
  va_end(args);
  pWriter(sFunction ? sFunction : "", iSeverity, sSource ? sSource : "", iLine, sMessage.c_str());
}

std::string ErrorMessage(const std::string& sPrefix, int iError, const char* sErrorText) {
  return sPrefix + "error code: " + std::to_string(iError) + ", error: " + (sErrorText ? sErrorText : "");
}
}  // namespace LogSink
