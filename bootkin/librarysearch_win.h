#pragma once
#include <windows.h>

// Where libraries loaded by name may come from. The starter usually runs
// from the Downloads folder, beside whatever else the user downloaded.
namespace LibrarySearch {

// How far the search could be narrowed.
struct Outcome {
  enum Kind {
    kSystemOnly,       // the system folder only (SetDefaultDllDirectories)
    kNoCurrentFolder,  // older systems: the current folder left out
    kUnchanged,        // neither call worked
  };
  Kind eKind = kUnchanged;
  unsigned long iError = 0;  // the failed call's error code, 0 when none
};

// Restricts the search for libraries loaded by name to the system folder;
// first thing at start-up, before anything loads a library. The run log is
// not open yet, so the outcome is logged later with Log.
Outcome Restrict();
// Logs an outcome other than kSystemOnly (the usual one is not worth a line).
void Log(const Outcome& oOutcome);
// Test build only: loads the libraries the build flavour names, by name,
// and logs the file each came from.
void LoadTestLibraries();

}  // namespace LibrarySearch
