// Stand-in for the client's installer. Records how it was started, then
// installs the client when told to (command line or QVInstaller.options.txt):
//   --install               reads the command file rsp1024hcmd.txt beside it
//                           and installs the client its settings ask for into
//                           the user's application folder,
//                           <AppData>\<ClientName>\Quorumvessel (ClientName
//                           "Quorumvessel" when the element is absent, no
//                           level when it is empty), with version.txt holding
//                           the <__Version__> value;
//   --install-to=<folder>   installs there instead, with the version from
//   --install-version=<v>   (or from the command file);
//   --launch-client         then starts the installed client the way the
//                           starter does, with "--program" and a copy of the
//                           command file in the client's folder.
// Installing copies Quorumvessel.exe, and Quorumvessel.options.txt when
// present, from beside it. Stays alive for "--stay-ms=N" (default 20 s) so a
// test can find it.
#include "../common/fakeprogram.h"

namespace {
// Value of a tagged element; false when it is not there.
bool Extract(const std::string& sText, const std::string& sName, std::string& sValue) {
  const std::string sStart = "<__" + sName + "__>";
  const std::string sEnd = "</__" + sName + "__>";
  const std::size_t iStart = sText.find(sStart);
  if (iStart == std::string::npos) return false;
  const std::size_t iEnd = sText.find(sEnd, iStart + sStart.size());
  if (iEnd == std::string::npos) return false;
  sValue = sText.substr(iStart + sStart.size(), iEnd - iStart - sStart.size());
  return true;
}

std::wstring ApplicationDataFolder() {
  wchar_t sFolder[MAX_PATH + 1] = {0};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, sFolder))) return L"";
  return sFolder;
}

bool CopyBeside(const fake::Program& oProgram, const std::wstring& sName, const std::wstring& sTarget) {
  return CopyFileW((oProgram.Directory() + L"\\" + sName).c_str(), (sTarget + L"\\" + sName).c_str(), FALSE) != FALSE;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  fake::Program oProgram;
  oProgram.RecordStart();

  const std::wstring sCommandFile = oProgram.Directory() + L"\\rsp1024hcmd.txt";
  std::string sCommand;
  const bool bHaveCommand = fake::ReadFileText(sCommandFile, sCommand);
  std::wstring sTarget = oProgram.Value(L"--install-to=");
  std::string sVersion = fake::ToUtf8(oProgram.Value(L"--install-version="));
  if (sTarget.empty() && oProgram.Has(L"--install")) {
    if (!bHaveCommand) {
      oProgram.RecordEvent("install failed: no command file");
    } else {
      std::string sClientName = "Quorumvessel";
      Extract(sCommand, "ClientName", sClientName);
      sTarget = ApplicationDataFolder();
      if (!sClientName.empty()) sTarget += L"\\" + fake::ToWide(sClientName);
      sTarget += L"\\Quorumvessel";
    }
  }
  if (sVersion.empty() && bHaveCommand) Extract(sCommand, "Version", sVersion);

  if (!sTarget.empty()) {
    SHCreateDirectoryExW(nullptr, sTarget.c_str(), nullptr);
    const bool bCopied = CopyBeside(oProgram, L"Quorumvessel.exe", sTarget);
    if (fake::FileExists(oProgram.Directory() + L"\\Quorumvessel.options.txt"))
      CopyBeside(oProgram, L"Quorumvessel.options.txt", sTarget);
    const std::wstring sVersionFile = sTarget + L"\\version.txt";
    DeleteFileW(sVersionFile.c_str());
    fake::AppendFileText(sVersionFile, sVersion + "\r\n");
    oProgram.RecordEvent(bCopied ? "installed " + fake::ToUtf8(sTarget) + " " + sVersion : "install failed");

    if (bCopied && oProgram.Has(L"--launch-client")) {
      const std::wstring sClientCommandFile = sTarget + L"\\rsp1024hcmd.txt";
      CopyFileW(sCommandFile.c_str(), sClientCommandFile.c_str(), FALSE);
      std::wstring sCommandLine = L"\"" + sTarget + L"\\Quorumvessel.exe\" --program " + sClientCommandFile;
      STARTUPINFOW oStartup = {};
      oStartup.cb = sizeof(oStartup);
      PROCESS_INFORMATION oProcess = {};
      if (CreateProcessW(nullptr, &sCommandLine[0], nullptr, nullptr, FALSE, 0, nullptr, sTarget.c_str(), &oStartup,
                         &oProcess)) {
        CloseHandle(oProcess.hThread);
        CloseHandle(oProcess.hProcess);
        oProgram.RecordEvent("client started");
      } else {
        oProgram.RecordEvent("client start failed");
      }
    }
  }
  Sleep(oProgram.Number(L"--stay-ms=", 20000));
  return 0;
}
