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
}  // namespace LogSink

#define QV_LOG(func, severity, source, ...) \
  ::LogSink::Write((func), (severity), (source), __LINE__, __VA_ARGS__)
