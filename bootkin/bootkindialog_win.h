#pragma once
#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>

#include "bootkin/progressctrl_win.h"
#include "bootkin/stylebutton_win.h"

// The progress window: a small dark always-on-top panel with the status
// text, the progress bar, percentage, speed and time remaining, and a close
// button. Runs modally on the main thread; worker threads reach it only
// through PostFromWorker.
class BootkinDialog {
 public:
  static constexpr COLORREF kBackground = RGB(48, 54, 64);
  static constexpr COLORREF kFrame = RGB(172, 168, 163);
  static const wchar_t* const kWindowClass;  // "QVSetupWindow"
  static const char* const kSetupFailedText;

  BootkinDialog();
  ~BootkinDialog();
  BootkinDialog(const BootkinDialog&) = delete;
  BootkinDialog& operator=(const BootkinDialog&) = delete;

  // The dialog template names this class; register it before the first run.
  static bool RegisterWindowClass(HINSTANCE hInstance);

  // Shown in the title-bar slot; applied when the window is created.
  void SetSmallIcon(HICON hIcon);

  // Runs the dialog from template 102 until the user closes it.
  INT_PTR DoModal();

  // Safe from any thread. Messages posted before the window exists wait in
  // order and are delivered once it does; after the window is gone (or when
  // a post is refused) a text block is freed here.
  void PostFromWorker(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam);

  HWND GetSafeHwnd() const { return m_hWnd; }
  RECT GetInitialStatusRect() const { return m_rcInitialStatus; }

  // Where the status text goes in the status layout: moved 15 and 10 units
  // right and down, as wide as the initial right edge, 30 units taller;
  // units scaled by the DPI, truncated to whole pixels.
  static RECT StatusLayoutRect(const RECT& rcInitial, float fScale);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
  // The colours of the dialog and its controls (every WM_CTLCOLOR* message):
  // the dark background brush, with white text on a transparent background
  // for the labels.
  INT_PTR OnCtlColor(UINT uMsg, WPARAM wParam, LPARAM lParam);
  // A press of the left button on the background drags the panel as if by a
  // caption, unless the close button holds the mouse.
  void OnBackgroundPress(LPARAM lParam);
  void OnInitDialog();
  void OnPaint();
  void OnDestroy();
  void ShowStatusLayout(const wchar_t* sText);
  void ShowProgressLayout(const wchar_t* sText);
  void ShowProgress(int iPercent, int iSpeed, int iSeconds);
  void SetItemText(int iId, const wchar_t* sText);

  HWND m_hWnd = nullptr;
  StyleButton m_closeButton;
  ProgressCtrl m_progress;
  HBRUSH m_hBackgroundBrush;
  HICON m_hIcon;
  HICON m_hSmallIcon = nullptr;
  float m_fDpiScale = 1.0f;
  RECT m_rcInitialStatus = {};

  struct Pending {
    unsigned int uMessage;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  std::mutex m_postLock;
  HWND m_hPostTarget = nullptr;  // under m_postLock
  bool m_bClosed = false;        // under m_postLock
  std::deque<Pending> m_pending; // under m_postLock
};
