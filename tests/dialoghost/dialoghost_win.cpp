// Shows the progress dialog alone, for the window tests and the demo.
//
//   QVDialogHost.exe REPORT_FILE [MESSAGE:TEXT ...]
//
// A worker thread posts each MESSAGE (6039 to 6043) with its TEXT in order,
// starting before the window exists, waits until the window has taken them,
// and writes what the window shows to REPORT_FILE (key=value lines, screen
// pixels, line breaks in texts as \n) ending with "ready=1". A \n in TEXT
// stands for a line break. The process ends when the dialog closes, or after
// ten minutes at the latest.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bootkin/bootkindialog_win.h"
#include "bootkin/resource.h"
#include "code/setuphandler/setupinterface.h"
#include "code/utility/system/mythread.h"
#include "code/utility/text/textconv.h"

namespace {

class HostInterface : public SetupInterface {
 public:
  explicit HostInterface(BootkinDialog& dialog) : m_dialog(dialog) {}
  void PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam) override {
    m_dialog.PostFromWorker(uMessage, wParam, lParam);
  }

 private:
  BootkinDialog& m_dialog;
};

std::string RectText(const RECT& rc) {
  return std::to_string(rc.left) + "," + std::to_string(rc.top) + "," + std::to_string(rc.right) + "," +
         std::to_string(rc.bottom);
}

RECT ScreenRectOf(HWND hWnd) {
  RECT rc{};
  GetWindowRect(hWnd, &rc);
  return rc;
}

class Driver : public MyThread {
 public:
  Driver(BootkinDialog& dialog, std::wstring sReport, std::vector<std::wstring> aSteps)
      : m_dialog(dialog), m_post(dialog), m_sReport(std::move(sReport)), m_aSteps(std::move(aSteps)) {}

  void Run() override {
    const long iBefore = SetupMessage::LiveTextBlocks();
    for (const std::wstring& sStep : m_aSteps) {
      const std::size_t iColon = sStep.find(L':');
      const unsigned int uMessage = static_cast<unsigned int>(std::wcstoul(sStep.c_str(), nullptr, 10));
      std::string sText = iColon == std::wstring::npos ? "" : TextConv::WideToUtf8(sStep.substr(iColon + 1));
      for (std::size_t i; (i = sText.find("\\n")) != std::string::npos;) sText.replace(i, 2, "\n");
      if (SetupMessage::CarriesText(uMessage)) m_post.PostText(uMessage, sText);
      else m_post.PostToDialog(uMessage, 0, 0);
    }
    HWND hWnd = nullptr;
    for (int i = 0; i < 60000 && !((hWnd = m_dialog.GetSafeHwnd()) && IsWindowVisible(hWnd)); i += 10) Sleep(10);
    for (int i = 0; i < 60000 && SetupMessage::LiveTextBlocks() != iBefore; i += 10) Sleep(10);
    Sleep(500);  // let the last repaint reach the screen
    if (hWnd) WriteReport(hWnd);
    // Never outlive the test that started us.
    Sleep(600000);
    if (IsWindow(hWnd)) PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
  }

 private:
  void WriteReport(HWND hWnd) {
    RECT rcClient{};
    GetClientRect(hWnd, &rcClient);
    MapWindowPoints(hWnd, nullptr, reinterpret_cast<POINT*>(&rcClient), 2);
    RECT rcStatusClient = ScreenRectOf(GetDlgItem(hWnd, IDC_STATUS));
    MapWindowPoints(nullptr, hWnd, reinterpret_cast<POINT*>(&rcStatusClient), 2);
    wchar_t sStatus[1100] = {};
    GetWindowTextW(GetDlgItem(hWnd, IDC_STATUS), sStatus, 1100);
    std::string s;
    s += "window=" + RectText(ScreenRectOf(hWnd)) + "\n";
    s += "client=" + RectText(rcClient) + "\n";
    s += "progress=" + RectText(ScreenRectOf(GetDlgItem(hWnd, IDC_PROGRESS))) + "\n";
    s += "close=" + RectText(ScreenRectOf(GetDlgItem(hWnd, IDC_CLOSE_BUTTON))) + "\n";
    s += "status_initial=" + RectText(m_dialog.GetInitialStatusRect()) + "\n";
    s += "status=" + RectText(rcStatusClient) + "\n";
    std::string sStatusText = TextConv::WideToUtf8(sStatus);
    for (std::size_t i = 0; (i = sStatusText.find('\n', i)) != std::string::npos; i += 2) sStatusText.replace(i, 1, "\\n");
    s += "status_text=" + sStatusText + "\n";
    s += "progress_visible=" + std::to_string(IsWindowVisible(GetDlgItem(hWnd, IDC_PROGRESS)) ? 1 : 0) + "\n";
    s += "bar=" + std::to_string(SendMessageW(GetDlgItem(hWnd, IDC_PROGRESS), PBM_GETPOS, 0, 0)) + "\n";
    HDC hDC = GetDC(hWnd);
    s += "logpixels=" + std::to_string(GetDeviceCaps(hDC, LOGPIXELSX)) + "\n";
    ReleaseDC(hWnd, hDC);
    s += "process=" + std::to_string(GetCurrentProcessId()) + "\n";
    s += "ready=1\n";
    const std::wstring sTemp = m_sReport + L".tmp";
    FILE* f = _wfopen(sTemp.c_str(), L"wb");
    if (!f) return;
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
    MoveFileExW(sTemp.c_str(), m_sReport.c_str(), MOVEFILE_REPLACE_EXISTING);
  }

  BootkinDialog& m_dialog;
  HostInterface m_post;
  std::wstring m_sReport;
  std::vector<std::wstring> m_aSteps;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
  int iArgs = 0;
  wchar_t** aArgs = CommandLineToArgvW(GetCommandLineW(), &iArgs);
  if (!aArgs || iArgs < 2) return 2;
  InitCommonControls();
  BootkinDialog::RegisterWindowClass(hInstance);
  static BootkinDialog dialog;
  dialog.SetSmallIcon(static_cast<HICON>(
      LoadImageW(hInstance, MAKEINTRESOURCEW(IDI_SMALL_DEFAULT), IMAGE_ICON, 16, 16, LR_SHARED)));
  static Driver driver(dialog, aArgs[1], std::vector<std::wstring>(aArgs + 2, aArgs + iArgs));
  driver.m_bTimeCritical = false;
  driver.Start();
  const INT_PTR iResult = dialog.DoModal();
  LocalFree(aArgs);
  // The driver may still sleep; the process ends here as the starter's does.
  ExitProcess(iResult == IDCANCEL ? 0 : static_cast<UINT>(iResult));
}
