#pragma once
#include <string>

#include "code/setuphandler/setupinterface.h"

class BootkinDialog;
class SetupHandler;

// The application object: brings up the process-wide services, finds the
// settings and either runs the setup or registers the launch protocol.
class BootkinApp : public SetupInterface {
 public:
  // Runs the whole start-up; always false (no message loop follows).
  bool InitInstance();

  // The command line as the system hands it over, program name removed.
  void SetCommandLine(const wchar_t* wsCmdLine);

  // Worker threads report here; posts go to the progress dialog's window.
  void PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam) override;

  // The client name is the file name before "Starter" (else "starter");
  // false when the name carries neither.
  static bool ClientNameFromFileName(const std::string& sFileName, std::string* pClientName);
  // Small (title-bar) icon resource for an edition's OEM identifier.
  static int SmallIconForOem(const std::string& sOemId);
  // The command line copy for the setup handler: UTF-8, empty when it
  // needs the whole 4096-byte buffer or more.
  static std::string CommandLineCopy(const std::wstring& wsCmdLine);

  BootkinDialog* m_pDialog = nullptr;
  SetupHandler* m_pSetupHandler = nullptr;

 private:
  void RegisterStarterBranch();
  void SetDialogSmallIcon(int iIconId);

  std::wstring m_wsCmdLine;
};
