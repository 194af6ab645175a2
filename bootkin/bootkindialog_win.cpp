#include "bootkin/bootkindialog_win.h"

#include <commctrl.h>

#include <string>

#include "bootkin/resource.h"
#include "code/setuphandler/setupinterface.h"
#include "code/utility/log/logsink.h"
#include "code/utility/text/textconv.h"

const wchar_t* const BootkinDialog::kWindowClass = L"QVSetupWindow";
const char* const BootkinDialog::kSetupFailedText =
    "Setup could not be started.\n\nPlease close this window and try again.";

namespace {
const int kProgressItems[] = {IDC_PROGRESS, IDC_PERCENT, IDC_SPEED_LABEL, IDC_SPEED_VALUE,
                              IDC_SPEED_UNIT, IDC_TIME_LABEL, IDC_TIME_VALUE, IDC_TIME_UNIT};

// Text of a posted block, converted for the controls; the block is freed.
// False for a wParam that is no block of ours (another program can post
// these message numbers too): such a message is ignored.
bool TakeText(WPARAM wParam, std::size_t iCapacity, std::wstring* pText) {
  std::string sText;
  if (!SetupMessage::TakeTextBlock(wParam, &sText)) return false;
  *pText = TextConv::Utf8ToWideBounded(sText, iCapacity);
  return true;
}
}  // namespace

BootkinDialog::BootkinDialog()
    : m_hBackgroundBrush(CreateSolidBrush(kBackground)),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

BootkinDialog::~BootkinDialog() {
  std::lock_guard<std::mutex> lock(m_postLock);
  for (const Pending& p : m_pending) {
    if (SetupMessage::CarriesText(p.uMessage)) SetupMessage::FreeTextBlock(p.wParam);
  }
  m_pending.clear();
  m_bClosed = true;
  if (m_hBackgroundBrush) DeleteObject(m_hBackgroundBrush);
}

bool BootkinDialog::RegisterWindowClass(HINSTANCE hInstance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  if (!GetClassInfoExW(hInstance, L"#32770", &wc)) return false;
  wc.lpszClassName = kWindowClass;
  wc.hInstance = hInstance;
  return RegisterClassExW(&wc) != 0;
}

void BootkinDialog::SetSmallIcon(HICON hIcon) {
  m_hSmallIcon = hIcon;
  if (m_hWnd) SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hIcon));
}

INT_PTR BootkinDialog::DoModal() {
  {
    std::lock_guard<std::mutex> lock(m_postLock);
    m_bClosed = false;
  }
  const INT_PTR iResult = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_BOOTKIN_DIALOG), nullptr,
                                          &BootkinDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  // Whatever is still waiting will never be shown.
  std::deque<Pending> orphans;
  {
    std::lock_guard<std::mutex> lock(m_postLock);
    m_bClosed = true;
    m_hPostTarget = nullptr;
    orphans.swap(m_pending);
  }
  for (const Pending& p : orphans) {
    if (SetupMessage::CarriesText(p.uMessage)) SetupMessage::FreeTextBlock(p.wParam);
  }
  return iResult;
}

void BootkinDialog::PostFromWorker(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam) {
  bool bDelivered = false;
  {
    std::lock_guard<std::mutex> lock(m_postLock);
    if (m_hPostTarget) {
      bDelivered = PostMessageW(m_hPostTarget, uMessage, wParam, lParam) != FALSE;
    } else if (!m_bClosed) {
      m_pending.push_back({uMessage, wParam, lParam});
      bDelivered = true;
    }
  }
  if (!bDelivered && SetupMessage::CarriesText(uMessage)) SetupMessage::FreeTextBlock(wParam);
}

RECT BootkinDialog::StatusLayoutRect(const RECT& rcInitial, float fScale) {
  const int iLeft = rcInitial.left + static_cast<int>(15 * fScale);
  const int iTop = rcInitial.top + static_cast<int>(10 * fScale);
  const int iWidth = rcInitial.right;
  const int iHeight = rcInitial.bottom + static_cast<int>(30 * fScale);
  return RECT{iLeft, iTop, iLeft + iWidth, iTop + iHeight};
}

INT_PTR CALLBACK BootkinDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  BootkinDialog* pThis = nullptr;
  if (uMsg == WM_INITDIALOG) {
    pThis = reinterpret_cast<BootkinDialog*>(lParam);
    SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    pThis->m_hWnd = hWnd;
  } else {
    pThis = reinterpret_cast<BootkinDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
  }
  if (!pThis) return FALSE;
  return pThis->OnMessage(uMsg, wParam, lParam);
}

INT_PTR BootkinDialog::OnCtlColor(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  const int iId = uMsg == WM_CTLCOLORDLG ? 0 : GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
  const bool bLabel = (iId >= IDC_PERCENT && iId <= IDC_TIME_UNIT) || iId == 0xFFFF || iId == -1;
  if (uMsg != WM_CTLCOLORDLG && bLabel) {
    HDC hDC = reinterpret_cast<HDC>(wParam);
    SetTextColor(hDC, RGB(255, 255, 255));
    SetBkMode(hDC, TRANSPARENT);
  }
  return reinterpret_cast<INT_PTR>(m_hBackgroundBrush);
}

void BootkinDialog::OnBackgroundPress(LPARAM lParam) {
  // A client-area hit code starts a move loop that never moves the window,
  // so the press is handed on as one on a caption. The close button tells
  // us of its presses too; while it holds the mouse a move would swallow
  // its click.
  HWND hCapture = GetCapture();
  if (!hCapture || hCapture != m_closeButton.GetSafeHwnd()) DefWindowProcW(m_hWnd, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, lParam);
}

INT_PTR BootkinDialog::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;
    case WM_PAINT:
      OnPaint();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORMSGBOX:
      return OnCtlColor(uMsg, wParam, lParam);
    case WM_DRAWITEM: {
      const DRAWITEMSTRUCT* pDraw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (pDraw->CtlID == IDC_CLOSE_BUTTON) {
        m_closeButton.DrawItem(pDraw);
        return TRUE;
      }
      return FALSE;
    }
    case WM_LBUTTONDOWN:
      OnBackgroundPress(lParam);
      return TRUE;
    case WM_LBUTTONUP:
      if (GetCapture() == m_hWnd) ReleaseCapture();
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_CLOSE_BUTTON:
          if (HIWORD(wParam) == BN_CLICKED) EndDialog(m_hWnd, IDCANCEL);
          return TRUE;
        case IDOK:
        case IDCANCEL:
          EndDialog(m_hWnd, LOWORD(wParam));
          return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case SetupMessage::kStatus:
    case SetupMessage::kFinal: {
      std::wstring sText;
      if (TakeText(wParam, 1024, &sText)) ShowStatusLayout(sText.c_str());
      return TRUE;
    }
    case SetupMessage::kDownload: {
      std::wstring sText;
      if (TakeText(wParam, 512, &sText)) ShowProgressLayout(sText.c_str());
      return TRUE;
    }
    case SetupMessage::kProgress: {
      std::string sText;
      if (!SetupMessage::TakeTextBlock(wParam, &sText)) return TRUE;
      int iPercent = 0, iSpeed = 0, iSeconds = 0;
      SetupMessage::ParseProgressText(sText, iPercent, iSpeed, iSeconds);
      ShowProgress(iPercent, iSpeed, iSeconds);
      return TRUE;
    }
    case SetupMessage::kSetupFailed:
      ShowStatusLayout(TextConv::Utf8ToWide(kSetupFailedText).c_str());
      return TRUE;
  }
  return FALSE;
}

void BootkinDialog::OnInitDialog() {
  m_closeButton.SubclassDlgItem(IDC_CLOSE_BUTTON, m_hWnd);
  m_progress.SubclassDlgItem(IDC_PROGRESS, m_hWnd);

  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));

  HDC hDC = GetDC(m_hWnd);
  m_fDpiScale = static_cast<float>(GetDeviceCaps(hDC, LOGPIXELSX)) / 96.0f;
  ReleaseDC(m_hWnd, hDC);

  SetWindowTextW(m_hWnd, L"Bootkin");

  HWND hStatus = GetDlgItem(m_hWnd, IDC_STATUS);
  GetWindowRect(hStatus, &m_rcInitialStatus);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&m_rcInitialStatus), 2);

  m_closeButton.SetIcon(IDI_CLOSE_GLYPH);
  InvalidateRect(m_closeButton.GetSafeHwnd(), nullptr, TRUE);

  SendMessageW(m_progress.GetSafeHwnd(), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageW(m_progress.GetSafeHwnd(), PBM_SETPOS, 0, 0);

  const UINT uFlags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
  SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, uFlags);
  SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, uFlags);

  RECT rcDesktop, rcWindow;
  GetWindowRect(GetDesktopWindow(), &rcDesktop);
  GetWindowRect(m_hWnd, &rcWindow);
  const int iWidth = rcWindow.right - rcWindow.left;
  const int iHeight = rcWindow.bottom - rcWindow.top;
  SetWindowPos(m_hWnd, nullptr, rcDesktop.left + (rcDesktop.right - rcDesktop.left - iWidth) / 2,
               rcDesktop.top + (rcDesktop.bottom - rcDesktop.top - iHeight) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  // From now on posts go straight to the window; what came before follows
  // in the order it was posted.
  std::lock_guard<std::mutex> lock(m_postLock);
  m_hPostTarget = m_hWnd;
  while (!m_pending.empty()) {
    const Pending p = m_pending.front();
    m_pending.pop_front();
    if (!PostMessageW(m_hWnd, p.uMessage, p.wParam, p.lParam) && SetupMessage::CarriesText(p.uMessage)) {
      SetupMessage::FreeTextBlock(p.wParam);
    }
  }
}

void BootkinDialog::OnDestroy() {
  {
    std::lock_guard<std::mutex> lock(m_postLock);
    m_hPostTarget = nullptr;
    m_bClosed = true;
  }
  // Posted but not yet handled: release their blocks.
  MSG msg;
  while (PeekMessageW(&msg, m_hWnd, SetupMessage::kStatus, SetupMessage::kFinal, PM_REMOVE)) {
    SetupMessage::FreeTextBlock(msg.wParam);
  }
}

void BootkinDialog::OnPaint() {
  PAINTSTRUCT ps;
  HDC hDC = BeginPaint(m_hWnd, &ps);
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  HRGN hOuter = CreateRoundRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom + 1, 2, 2);
  HRGN hInner = CreateRoundRectRgn(rc.left + 1, rc.top + 1, rc.right, rc.bottom, 2, 2);
  HBRUSH hFrame = CreateSolidBrush(kFrame);
  FrameRgn(hDC, hOuter, hFrame, 1, 1);
  FrameRgn(hDC, hInner, m_hBackgroundBrush, 1, 1);
  DeleteObject(hFrame);
  DeleteObject(hInner);
  DeleteObject(hOuter);
  EndPaint(m_hWnd, &ps);
}

void BootkinDialog::SetItemText(int iId, const wchar_t* sText) {
  HWND hItem = GetDlgItem(m_hWnd, iId);
  SetWindowTextW(hItem, sText);
  InvalidateRect(hItem, nullptr, TRUE);
  UpdateWindow(hItem);
}

void BootkinDialog::ShowStatusLayout(const wchar_t* sText) {
  for (int iId : kProgressItems) ShowWindow(GetDlgItem(m_hWnd, iId), SW_HIDE);
  const RECT rc = StatusLayoutRect(m_rcInitialStatus, m_fDpiScale);
  MoveWindow(GetDlgItem(m_hWnd, IDC_STATUS), rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
  SetItemText(IDC_STATUS, sText);
  // The hidden items leave their old pixels behind on the background.
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

void BootkinDialog::ShowProgressLayout(const wchar_t* sText) {
  for (int iId : kProgressItems) ShowWindow(GetDlgItem(m_hWnd, iId), SW_SHOW);
  const RECT& rc = m_rcInitialStatus;
  MoveWindow(GetDlgItem(m_hWnd, IDC_STATUS), rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
  SetItemText(IDC_STATUS, sText);
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

void BootkinDialog::ShowProgress(int iPercent, int iSpeed, int iSeconds) {
  SendMessageW(m_progress.GetSafeHwnd(), PBM_SETPOS, static_cast<WPARAM>(iPercent), 0);
  InvalidateRect(m_progress.GetSafeHwnd(), nullptr, FALSE);
  SetItemText(IDC_PERCENT, (std::to_wstring(iPercent) + L"%").c_str());
  SetItemText(IDC_SPEED_VALUE, std::to_wstring(iSpeed).c_str());
  SetItemText(IDC_TIME_VALUE, std::to_wstring(iSeconds).c_str());
}
