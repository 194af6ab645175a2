#pragma once
#include <windows.h>

// A progress bar painted in two flat colours: white, and grey for the part
// done. Subclasses an existing progress-bar control; range and position stay
// the control's own.
class ProgressCtrl {
 public:
  static constexpr COLORREF kBackground = RGB(255, 255, 255);
  static constexpr COLORREF kDone = RGB(190, 190, 190);

  bool SubclassDlgItem(int iId, HWND hParent);
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Width in pixels of the done part of a bar `iWidth` wide: moves in whole
  // percents; nothing when the position lies outside the range.
  static int DoneWidth(int iLower, int iUpper, int iPosition, int iWidth);

 private:
  static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uId,
                                       DWORD_PTR pRef);
  void OnPaint();

  HWND m_hWnd = nullptr;
};
