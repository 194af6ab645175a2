#pragma once
#include <cstddef>
#include <string>

// Starting, finding and stopping the programs of the client family.
// Texts are UTF-8; they become UTF-16 only at the Windows call.
namespace Utility {

// Wide buffer of a command line and each part of a split command line,
// terminator included.
constexpr std::size_t kProcessCommandLine = 2048;
// Upper bound of the process list walk, against a list that never ends.
constexpr int kMaxProcessWalk = 10000;

// Creates the process; when that fails, asks the shell to "open" the program
// with the rest of the command line as parameters. A command line naming
// Quorumvessel.exe is shown, any other is hidden. sWorkingDirectory may be
// null. pProcessId (may be null) receives the id only of a process created
// directly.
bool StartProcess(const char* sCommandLine, const char* sWorkingDirectory, unsigned long* pProcessId);

// Splits a command line into the program (quotes removed) and the rest.
void SplitCommandLine(const std::string& sCommandLine, std::string& sExecutable, std::string& sParameter);

// True when a running process's executable name equals sName, ignoring case.
bool IsProcessRunning(const char* sName);

// Terminates every process whose executable name, in double quotes, occurs
// in sProcessName (ignoring case), never the calling process. Callers pass
// quoted names ("\"QVInstaller.exe\""). False for an empty name or when the
// process list cannot be read.
bool TerminateProcessByName(const char* sProcessName);


// True when the lower-cased executable name in double quotes occurs in the
// lower-cased target: exact names only, whatever their letter case.
bool ProcessNameMatches(const std::string& sLowerTarget, const std::string& sExecutableName);

}  // namespace Utility
