#pragma once
#include <string>

#include "code/setuphandler/setupstate.h"
#include "code/utility/mythread.h"

// One setup run on its own worker thread: finds the installed client,
// launches it or downloads and installs a new one. Steps live in
// setuphandler_*_win.cpp by concern.
class SetupHandler : public MyThread, public SetupState {
 public:
  SetupHandler();
  ~SetupHandler() override;

  // Thread body.
  void Run() override;

  // Directories, and for client-started runs the command parameter file.
  bool InitializeSetup();
  // Settings from starter.cfg or starter.txt in the current folder.
  bool LoadSetupConfigure(char* sSetting, std::size_t iSettingSize = Limits::kSetting);
  void CheckIsVersionIsSynced();

  bool LaunchClient();
  bool Download();
  bool ProcessDownloadedClient();
  void CallToInstall();
  void StopProcess();
  std::string InformServerOfInstallation();

 protected:
  // Ends the whole process once the client has been launched; tests replace it.
  virtual void EndProcess(unsigned int iExitCode);

 private:
  // Tells the window that the package did not unpack whole; false.
  bool UnpackFailed();
};
