#pragma once
#include <memory>
#include <string>

#include "code/setuphandler/packagefile.h"
#include "code/setuphandler/setupstate.h"
#include "code/utility/system/mythread.h"

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
  // A build with a list of account servers (QV_ACCOUNT_SERVERS) refuses
  // settings that name any other: logged, the window says so (false).
  bool AccountServerAllowed();

  // False when the last launch was never confirmed (the run installs
  // afresh). Otherwise starts the client and ends the process; a client
  // that cannot be started is logged and the window says so (true).
  bool LaunchClient();
  bool Download();
  bool ProcessDownloadedClient();
  // A keyed build (package public keys built in) checks a package file
  // before anything of it is unpacked: a package that fails is removed, the
  // check that failed is logged and the window says so (false). True at
  // once in a build without keys.
  bool VerifyPackage(const char* sPackage);
  // Starts the installer; one that cannot be started is logged and the
  // window says so instead of showing the summary.
  void CallToInstall();
  void StopProcess();
  std::string InformServerOfInstallation();

 protected:
  // Ends the whole process once the client has been launched; tests replace it.
  virtual void EndProcess(unsigned int iExitCode);

 private:
  // Tells the window that the package did not unpack whole; false.
  bool UnpackFailed();
  // Creates the file the download is written to and sets m_sSetupFile and
  // m_sSetupDirectory; null (the user told) when it cannot be created.
  std::unique_ptr<PackageFile::Output> CreateDownloadFile();
  // Logs a program that could not be started and gives the window sText
  // as its final status.
  void StartFailed(const char* sFunction, const std::string& sStartProcess, const std::string& sText);
};
