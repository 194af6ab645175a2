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
  // Unpacks the package (the download, or the packages beside the starter)
  // into the setup folder and puts the setup prefix before the settings.
  // False (logged, the window told) when the setup cannot go on.
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
  // The packages beside the starter ("PCClient" and "PCClientAccessory"):
  // checked, unpacked into qv_starter_dir beside the starter (m_sSetupDirectory)
  // and its Accessory folder, and given a WorkingDirectory.txt when they
  // bring none. False (logged, the window told) when any step fails.
  bool UnpackLocalPackages();
  // The downloaded package m_sSetupFile: checked, unpacked into
  // m_sSetupDirectory, and its installer copied to QVLauncher.exe there.
  // False (logged, the window told) when any step fails.
  bool UnpackDownloadedPackage();
  // Empties a setup folder and makes sure it exists (one level). A folder
  // that is a junction or another link is refused: emptying and filling it
  // would work on whatever folder it points to. False (logged, the window
  // told) when the folder cannot be used.
  bool PrepareSetupFolder(const std::string& sFolder);
  // Tells the window that the package did not unpack whole; false.
  bool UnpackFailed();
  // Creates the file the download is written to and sets m_sSetupFile and
  // m_sSetupDirectory; null (the user told) when it cannot be created.
  std::unique_ptr<PackageFile::Output> CreateDownloadFile();
  // Starts a new attempt at the package (a new transfer every time: one
  // given up may still be writing), asking for iDownloadSize bytes through
  // iUsedPort. Returns the bytes the attempt starts from: what the package
  // holds when it can resume, else 0.
  int StartAttempt(const std::shared_ptr<PackageFile>& pPackage, int iDownloadSize, int iUsedPort);
  // The package is whole: the window shows the download summary, the part
  // file becomes m_sSetupFile and the package is unpacked
  // (ProcessDownloadedClient). False, the user told, when the file cannot
  // be kept.
  bool FinishDownload(PackageFile& package, int iAverageSpeed, int iElapsedMs);
  // After an attempt that cannot be resumed at once: the window says the
  // download is incomplete and the retry wait passes; a package replaced by
  // one of another size has its size asked again (*piDownloadSize, and the
  // port in *piUsedPort).
  void WaitToRetry(PackageFile& package, int* piDownloadSize, int* piUsedPort);
  // Shows sBox in a message box, then gives the window sText as its final
  // status.
  void ShowFailure(const wchar_t* sBox, const char* sText);
  // Logs a program that could not be started and gives the window sText
  // as its final status.
  void StartFailed(const char* sFunction, const std::string& sStartProcess, const std::string& sText);
};
