#pragma once
#include <windows.h>

#include <cstddef>

class BootkinApp;

// The stages start-up calls, in the order it calls them. Each lives in a
// file of its own (bootkin/stage_*_win.cpp) so its module can take it over.
namespace StartStages {

// How far the library search could be narrowed at start-up.
struct LibrarySearch {
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
// not open yet, so the outcome is logged later with LogLibrarySearch.
LibrarySearch RestrictLibrarySearch();
void LogLibrarySearch(const LibrarySearch& oSearch);
// Test build only: loads the libraries the build flavour names, by name,
// and logs the file each came from.
void LoadTestLibraries();

// Unhandled-exception filter of the crash handler, context "Default".
void InstallCrashFilter();

// Configuration cache singleton and the process-wide pointer to it.
void CreateConfigureCache();

// Registers the progress dialog's window class "QVSetupWindow"; false on failure.
bool RegisterDialogClass(HINSTANCE hInstance);
// Creates the progress dialog object (its window comes with the modal run).
void CreateDialogObject(BootkinApp& oApp);
// Gives the dialog its small icon (resource number).
void SetDialogSmallIcon(BootkinApp& oApp, int iIconId);
// Runs the progress dialog modally.
void RunDialog(BootkinApp& oApp);

// Creates the setup handler and links it to the application object.
void CreateSetupHandler(BootkinApp& oApp);
// Hands the command line copy to the setup handler.
void SetHandlerCommandLine(BootkinApp& oApp, const char* sCmdLine);
// Turns the handler's command line into settings text.
void ProcessCommandLine(BootkinApp& oApp, char* sSetting, std::size_t iSettingSize);
// Settings embedded in the executable; leaves sSetting empty when none.
void ReadEmbeddedSettings(BootkinApp& oApp, char* sSetting, std::size_t iSettingSize, int* pDecodedLength);
// Settings from the configuration file beside the starter.
bool LoadSetupConfigure(BootkinApp& oApp, char* sSetting, std::size_t iSettingSize);
// Hands the settings to the handler.
void ParseSetting(BootkinApp& oApp, const char* sSetting);
// Starts the handler's worker thread at normal priority.
void StartSetupThread(BootkinApp& oApp);

// Registers the starter as the handler of the client's URL protocol.
void RegisterStarter(const char* sModulePath, const char* sClientName);

// Writes the "m_lpCmdLine = %s" line for a command line copy.
void LogCommandLine(const char* sCmdLine);

}  // namespace StartStages
