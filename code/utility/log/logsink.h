#pragma once

// Every part of the starter logs through QV_LOG. The core only formats the
// message; the run log (MyLog on Windows) or a test installs the writer that
// stores it. Outside text always goes in as an argument, never as the format.

#if defined(__GNUC__)
#define QV_PRINTF_FORMAT(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define QV_PRINTF_FORMAT(fmt_index, first_arg)
#endif

#include <cstdarg>
#include <string>

namespace LogSink {
// Receives one finished entry: function name as shown in the log, severity
// (0 information, 3 error), source path, source line and formatted message.
using Writer = void (*)(const char* sFunction, int iSeverity, const char* sSource, int iLine,
                        const char* sMessage);

void SetWriter(Writer pWriter);

// printf-style formatting into a string (empty on a bad format).
std::string FormatV(const char* sFormat, va_list args);
Writer GetWriter();

void Write(const char* sFunction, int iSeverity, const char* sSource, int iLine, const char* sFormat, ...)
    QV_PRINTF_FORMAT(5, 6);

// The form in which a system or socket error is logged: sPrefix, then
// "error code: <iError>, error: <sErrorText>" (a null text counts as empty).
std::string ErrorMessage(const std::string& sPrefix, int iError, const char* sErrorText);

// Windows only (logsink_win.cpp): one entry of that form, its prefix
// printf-style, with the text GetSocketErrorText gives for the number. The
// last-error form reads the thread's last error before anything else runs.
void WriteErrorCode(const char* sFunction, int iSeverity, const char* sSource, int iLine, int iError,
                    const char* sPrefixFormat, ...) QV_PRINTF_FORMAT(6, 7);
void WriteLastError(const char* sFunction, int iSeverity, const char* sSource, int iLine,
                    const char* sPrefixFormat, ...) QV_PRINTF_FORMAT(5, 6);
}  // namespace LogSink

#define QV_LOG(func, severity, source, ...) \
  ::LogSink::Write((func), (severity), (source), __LINE__, __VA_ARGS__)

// QV_LOG_LAST_ERROR(func, severity, source, "HSR failed. ") logs
// "HSR failed. error code: 12029, error: <text>" for the thread's last error;
// QV_LOG_ERROR_CODE does the same for an error number the caller has.
#define QV_LOG_LAST_ERROR(func, severity, source, ...) \
  ::LogSink::WriteLastError((func), (severity), (source), __LINE__, __VA_ARGS__)
#define QV_LOG_ERROR_CODE(func, severity, source, error, ...) \
  ::LogSink::WriteErrorCode((func), (severity), (source), __LINE__, (error), __VA_ARGS__)
