// Stand-in for the client: a top-level window of the class the starter looks
// for. Message 5024 closes it unless "--ignore-close" is given (command line
// or Quorumvessel.options.txt); "--close-delay-ms=N" closes that long after
// the request, like a client that saves its state first. "--confirm-launch"
// confirms the start to the starter as the client does once it is up: the
// <__ClientCalledToLaunch__> marker of setup_status.txt beside it becomes N.
// Ends by itself after "--stay-ms=N" (default two minutes) so no test leaves
// it behind for long.
#include "../common/fakeprogram.h"

namespace {
const UINT kCloseRequest = WM_USER + 4000;
const UINT kRecordStart = WM_APP + 1;
const fake::Program* g_pProgram = nullptr;
bool g_bIgnoreClose = false;
UINT g_iCloseDelay = 0;

// Sets the launch marker to N, keeping whatever else the status file holds.
void ConfirmLaunch(const fake::Program& oProgram) {
  const std::string sStart = "<__ClientCalledToLaunch__>";
  const std::string sEnd = "</__ClientCalledToLaunch__>";
  const std::wstring sPath = oProgram.Directory() + L"\\setup_status.txt";
  std::string sText;
  fake::ReadFileText(sPath, sText);
  const std::size_t iStart = sText.find(sStart);
  const std::size_t iEnd = iStart == std::string::npos ? iStart : sText.find(sEnd, iStart);
  if (iEnd == std::string::npos) {
    sText = sStart + "N" + sEnd;
  } else {
    sText.replace(iStart + sStart.size(), iEnd - iStart - sStart.size(), "N");
  }
  DeleteFileW(sPath.c_str());
  fake::AppendFileText(sPath, sText);
  oProgram.RecordEvent("launch confirmed");
}

LRESULT CALLBACK WindowProc(HWND hWnd, UINT iMessage, WPARAM wParam, LPARAM lParam) {
  switch (iMessage) {
    case kCloseRequest:
      g_pProgram->RecordEvent(g_bIgnoreClose ? "close-request ignored" : "close-request");
      if (g_bIgnoreClose) return 0;
      if (g_iCloseDelay > 0) {
        SetTimer(hWnd, 2, g_iCloseDelay, nullptr);
      } else {
        PostQuitMessage(0);
      }
      return 0;
    case kRecordStart:
      g_pProgram->RecordStart();
      return 0;
    case WM_TIMER:
      // Leaving the loop ends the process, which takes the window with it at
      // once; destroying a shown window first can stall without a window
      // manager (as under Xvfb).
      PostQuitMessage(0);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hWnd, iMessage, wParam, lParam);
  }
}
}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int iShow) {
  fake::Program oProgram;
  g_pProgram = &oProgram;
  g_bIgnoreClose = oProgram.Has(L"--ignore-close");
  g_iCloseDelay = oProgram.Number(L"--close-delay-ms=", 0);

  WNDCLASSW oClass = {};
  oClass.lpfnWndProc = WindowProc;
  oClass.hInstance = hInstance;
  oClass.lpszClassName = L"QuorumvesselMainWindowClass";
  RegisterClassW(&oClass);
  HWND hWnd = CreateWindowExW(0, oClass.lpszClassName, L"Quorumvessel", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 320, 200, nullptr, nullptr, hInstance, nullptr);
  if (hWnd == nullptr) {
    oProgram.RecordEvent("no window");
    oProgram.RecordStart();
    Sleep(oProgram.Number(L"--stay-ms=", 120000));
    return 1;
  }
  ShowWindow(hWnd, iShow);
  SetTimer(hWnd, 1, oProgram.Number(L"--stay-ms=", 120000), nullptr);
  if (oProgram.Has(L"--confirm-launch")) ConfirmLaunch(oProgram);
  // Recorded once the message loop runs, so a test that sees the entry can
  // count on a window that answers at once.
  PostMessageW(hWnd, kRecordStart, 0, 0);

  MSG oMessage;
  while (GetMessageW(&oMessage, nullptr, 0, 0) > 0) {
    TranslateMessage(&oMessage);
    DispatchMessageW(&oMessage);
  }
  oProgram.RecordEvent("closed");
  return 0;
}
