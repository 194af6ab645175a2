// Reads the starter's progress window the way a user sees it, for the
// end-to-end tests:
//   WindowReader.exe <report-file> [--post=<message>,<wParam>]... [--close]
// Waits up to a minute for the top-level window of class "QVSetupWindow",
// posts it the given messages (numbers in decimal or 0x hex; lParam 0), as
// any other program on the desktop could, then writes key=value lines to the
// report file: "status" (the status text, line feeds written as "\n"),
// "progress" (1 when the progress bar is shown, else 0) and "end". The text
// is asked for by message, so a report also shows that the window still
// answers. With --close it then clicks the window's close button as a user
// does and waits up to a minute for the window to go.
// Exit code 0 when all of that happened, 1 when no window came, 2 when it
// did not go, 4 when a post was refused.
#include <cwchar>

#include "../common/fakeprogram.h"

namespace {
const int kStatus = 1004;
const int kProgress = 1000;
const int kCloseButton = 1001;

// Waits until the window is shown (bShown) or gone; false after a minute.
bool WaitForWindow(bool bShown, HWND* pWnd) {
  for (int i = 0; i < 600; ++i) {
    *pWnd = FindWindowW(L"QVSetupWindow", nullptr);
    if ((*pWnd != nullptr && IsWindowVisible(*pWnd)) == bShown) return true;
    Sleep(100);
  }
  return false;
}

// The control belongs to another process: its text comes by message.
std::wstring ControlText(HWND hControl) {
  wchar_t sText[2048] = {0};
  DWORD_PTR iResult = 0;
  SendMessageTimeoutW(hControl, WM_GETTEXT, sizeof(sText) / sizeof(sText[0]), reinterpret_cast<LPARAM>(sText),
                      SMTO_ABORTIFHUNG, 10000, &iResult);
  return sText;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 3;
  bool bClose = false;
  for (int i = 2; i < argc; ++i) bClose = bClose || std::wstring(argv[i]) == L"--close";

  HWND hWnd = nullptr;
  if (!WaitForWindow(true, &hWnd)) return 1;
  bool bPosted = false;
  for (int i = 2; i < argc; ++i) {
    const std::wstring sArg = argv[i];
    if (sArg.compare(0, 7, L"--post=") != 0) continue;
    wchar_t* pEnd = nullptr;
    const UINT uMessage = static_cast<UINT>(wcstoul(sArg.c_str() + 7, &pEnd, 0));
    const WPARAM wParam = (pEnd && *pEnd == L',') ? static_cast<WPARAM>(wcstoull(pEnd + 1, nullptr, 0)) : 0;
    if (!PostMessageW(hWnd, uMessage, wParam, 0)) return 4;
    bPosted = true;
  }
  // A sent message overtakes posted ones: give the window time to handle
  // what was posted before its text is asked for.
  if (bPosted) Sleep(1000);
  std::string sStatus;
  for (char c : fake::ToUtf8(ControlText(GetDlgItem(hWnd, kStatus)))) {
    if (c == '\n') sStatus += "\\n";
    else if (c != '\r') sStatus += c;
  }
  const bool bProgress = IsWindowVisible(GetDlgItem(hWnd, kProgress)) != FALSE;
  const std::string sReport = "status=" + sStatus + "\nprogress=" + (bProgress ? "1" : "0") + "\nend\n";
  HANDLE hFile = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile != INVALID_HANDLE_VALUE) {
    DWORD n = 0;
    WriteFile(hFile, sReport.data(), static_cast<DWORD>(sReport.size()), &n, nullptr);
    CloseHandle(hFile);
  }
  if (!bClose) return 0;
  // What the close button tells the dialog when it is clicked.
  PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(kCloseButton, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(hWnd, kCloseButton)));
  HWND hGone = nullptr;
  return WaitForWindow(false, &hGone) ? 0 : 2;
}
