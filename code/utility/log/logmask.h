#pragma once
#include <string>

// The run log travels with error reports, so secrets never reach it. These
// give the form of a text to log; the text itself is used unchanged.
namespace LogMask {
// The text that stands in the log for a password value.
constexpr const char kPasswordMask[] = "********";

// A settings text with the values of MeetingPassword and UserPassword
// (every occurrence) replaced by kPasswordMask.
std::string Setting(const std::string& sSetting);

// A command line with the value of every "sp" and "chk" query item replaced
// by its length in bytes ("sp=1234&chk=32").
std::string CommandLine(const std::string& sCommandLine);

// How a protected parameter value or a checksum text itself is logged: its
// length in bytes.
std::string Parameter(const std::string& sParameter);
}  // namespace LogMask
