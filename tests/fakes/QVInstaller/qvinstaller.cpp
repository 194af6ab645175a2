// Stand-in for the client's installer. Records how it was started, can
// "install" the client ("--install-to=<folder>" copies Quorumvessel.exe from
// beside it there and writes version.txt with "--install-version=<text>"),
// then stays alive for "--stay-ms=N" (default 20 s) so a test can find it.
#include "../common/fakeprogram.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  fake::Program oProgram;
  const std::wstring sTarget = oProgram.Value(L"--install-to=");
  if (!sTarget.empty()) {
    SHCreateDirectoryExW(nullptr, sTarget.c_str(), nullptr);
    const std::wstring sSource = oProgram.Directory() + L"\\Quorumvessel.exe";
    const bool bCopied = CopyFileW(sSource.c_str(), (sTarget + L"\\Quorumvessel.exe").c_str(), FALSE) != FALSE;
    const std::wstring sVersionFile = sTarget + L"\\version.txt";
    DeleteFileW(sVersionFile.c_str());
    fake::AppendFileText(sVersionFile, fake::ToUtf8(oProgram.Value(L"--install-version=")) + "\n");
    oProgram.RecordEvent(bCopied ? "installed" : "install failed");
  }
  oProgram.RecordStart();
  Sleep(oProgram.Number(L"--stay-ms=", 20000));
  return 0;
}
