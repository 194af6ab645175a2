#include "bootkin/progressctrl_win.h"

#include <commctrl.h>

namespace {
constexpr UINT_PTR kSubclassId = 0x5143;  // "QC"

void FillSolid(HDC hDC, const RECT& rc, COLORREF cr) {
  HBRUSH hBrush = CreateSolidBrush(cr);
  FillRect(hDC, &rc, hBrush);
  DeleteObject(hBrush);
}
}  // namespace

bool ProgressCtrl::SubclassDlgItem(int iId, HWND hParent) {
  m_hWnd = GetDlgItem(hParent, iId);
  return m_hWnd && SetWindowSubclass(m_hWnd, &ProgressCtrl::SubclassProc, kSubclassId,
                                     reinterpret_cast<DWORD_PTR>(this));
}

int ProgressCtrl::DoneWidth(int iLower, int iUpper, int iPosition, int iWidth) {
  if (iUpper <= iLower || iPosition < iLower || iPosition > iUpper) return 0;
  const int iPercent = (iPosition - iLower) * 100 / (iUpper - iLower);
  return iPercent * iWidth / 100;
}

void ProgressCtrl::OnPaint() {
  PAINTSTRUCT ps;
  HDC hDC = BeginPaint(m_hWnd, &ps);
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  FillSolid(hDC, rc, kBackground);
  PBRANGE range = {};
  SendMessageW(m_hWnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const int iPosition = static_cast<int>(SendMessageW(m_hWnd, PBM_GETPOS, 0, 0));
  const int iDone = DoneWidth(range.iLow, range.iHigh, iPosition, rc.right - rc.left);
  if (iDone > 0) {
    RECT rcDone = rc;
    rcDone.right = rc.left + iDone;
    FillSolid(hDC, rcDone, kDone);
  }
  EndPaint(m_hWnd, &ps);
}

LRESULT CALLBACK ProgressCtrl::SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR pRef) {
  ProgressCtrl* pThis = reinterpret_cast<ProgressCtrl*>(pRef);
  switch (uMsg) {
    case WM_PAINT:
      pThis->OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_NCDESTROY:
      RemoveWindowSubclass(hWnd, &ProgressCtrl::SubclassProc, kSubclassId);
      pThis->m_hWnd = nullptr;
      break;
  }
  return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}
