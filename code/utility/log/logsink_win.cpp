#include <windows.h>

#include <cstdarg>
#include <string>

#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"

namespace LogSink {
namespace {
void WriteErrorV(const char* sFunction, int iSeverity, const char* sSource, int iLine, int iError,
                 const char* sPrefixFormat, va_list args) {
  Writer pWriter = GetWriter();
  if (pWriter == nullptr || sPrefixFormat == nullptr) return;
  const std::string sMessage = ErrorMessage(FormatV(sPrefixFormat, args), iError, GetSocketErrorText(iError));
  pWriter(sFunction ? sFunction : "", iSeverity, sSource ? sSource : "", iLine, sMessage.c_str());
}
}  // namespace

void WriteErrorCode(const char* sFunction, int iSeverity, const char* sSource, int iLine, int iError,
                    const char* sPrefixFormat, ...) {
  va_list args;
  va_start(args, sPrefixFormat);
  WriteErrorV(sFunction, iSeverity, sSource, iLine, iError, sPrefixFormat, args);
  va_end(args);
}

void WriteLastError(const char* sFunction, int iSeverity, const char* sSource, int iLine,
                    const char* sPrefixFormat, ...) {
  const int iError = static_cast<int>(GetLastError());
  va_list args;
  va_start(args, sPrefixFormat);
  WriteErrorV(sFunction, iSeverity, sSource, iLine, iError, sPrefixFormat, args);
  va_end(args);
}
}  // namespace LogSink
