#include "bootkin/stylebutton_win.h"

#include <commctrl.h>

#include <string>

namespace {
constexpr UINT_PTR kSubclassId = 0x5342;  // "SB"
constexpr UINT kTypeMask = 0x1F;
}  // namespace

StyleButton::~StyleButton() {
  if (m_hWnd) RemoveWindowSubclass(m_hWnd, &StyleButton::SubclassProc, kSubclassId);
  FreeIcon();
}

void StyleButton::FreeIcon() {
  if (m_hIcon) DestroyIcon(m_hIcon);
  m_hIcon = nullptr;
  m_iIconWidth = m_iIconHeight = 0;
}

bool StyleButton::SubclassDlgItem(int iId, HWND hParent) {
  m_hWnd = GetDlgItem(hParent, iId);
  if (!m_hWnd) return false;
  LONG_PTR lStyle = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
  m_uTypeStyle = static_cast<UINT>(lStyle & kTypeMask);
  if (m_uTypeStyle == BS_DEFPUSHBUTTON) {
    m_bIsDefault = true;
    m_uTypeStyle = BS_PUSHBUTTON;
  }
  lStyle = (lStyle & ~static_cast<LONG_PTR>(kTypeMask)) | BS_OWNERDRAW;
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, lStyle);
  return SetWindowSubclass(m_hWnd, &StyleButton::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)) !=
         FALSE;
}

bool StyleButton::SetIcon(int iResourceId) {
  HICON hLoaded = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iResourceId),
                                                IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
  if (!hLoaded) return false;
  ICONINFO info = {};
  int iWidth = 0, iHeight = 0;
  if (GetIconInfo(hLoaded, &info)) {
    BITMAP bm = {};
    if (info.hbmColor && GetObjectW(info.hbmColor, sizeof(bm), &bm)) {
      iWidth = bm.bmWidth;
      iHeight = bm.bmHeight;
    } else if (info.hbmMask && GetObjectW(info.hbmMask, sizeof(bm), &bm)) {
      iWidth = bm.bmWidth;
      iHeight = bm.bmHeight / 2;  // monochrome icons stack AND and XOR masks
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
  }
  HICON hCopy = static_cast<HICON>(CopyImage(hLoaded, IMAGE_ICON, iWidth, iHeight, 0));
  DestroyIcon(hLoaded);
  if (!hCopy) return false;
  FreeIcon();
  m_hIcon = hCopy;
  m_iIconWidth = iWidth;
  m_iIconHeight = iHeight;
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
  return true;
}

void StyleButton::SetIconAlign(int iAlign, bool bRepaint) {
  m_iAlign = iAlign;
  if (bRepaint && m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

void StyleButton::DrawItem(const DRAWITEMSTRUCT* pDraw) {
  m_bIsPressed = (pDraw->itemState & ODS_SELECTED) != 0;
  m_bIsFocused = (pDraw->itemState & ODS_FOCUS) != 0;
  m_bIsDisabled = (pDraw->itemState & ODS_DISABLED) != 0;
  const RECT rcItem = pDraw->rcItem;
  wchar_t sText[256] = {};
  GetWindowTextW(m_hWnd, sText, 256);
  const bool bHasText = sText[0] != L'\0';
  DrawFace(pDraw->hDC, rcItem);
  if (m_hIcon) DrawIcon(pDraw->hDC, rcItem, bHasText);
  if (bHasText) DrawText(pDraw->hDC, rcItem, sText);
}

void StyleButton::DrawFace(HDC hDC, const RECT& rcItem) {
  HBRUSH hBrush = CreateSolidBrush(kFace);
  FillRect(hDC, &rcItem, hBrush);
  DeleteObject(hBrush);
}

void StyleButton::DrawIcon(HDC hDC, const RECT& rcItem, bool bHasText) {
  const int iWidth = rcItem.right - rcItem.left;
  const int iHeight = rcItem.bottom - rcItem.top;
  int x = rcItem.left + m_iXMargin;
  int y = rcItem.top + (iHeight - m_iIconHeight) / 2;
  if (!bHasText || m_iAlign != 0) {
    x = rcItem.left + (iWidth - m_iIconWidth) / 2 + 1;
    y = rcItem.top + (iHeight - m_iIconHeight) / 2 + 1;
  }
  DrawState(hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(m_hIcon), 0, x, y, m_iIconWidth, m_iIconHeight,
            DST_ICON | (m_bIsDisabled ? DSS_DISABLED : DSS_NORMAL));
}

void StyleButton::DrawText(HDC hDC, const RECT& rcItem, const wchar_t* sText) {
  HFONT hFont = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  HGDIOBJ hOld = hFont ? SelectObject(hDC, hFont) : nullptr;
  RECT rcText = rcItem;
  if (m_hIcon) rcText.left += m_iIconWidth + 2 * m_iXMargin;
  RECT rcMeasure = rcText;
  ::DrawTextW(hDC, sText, -1, &rcMeasure, DT_WORDBREAK | DT_CENTER | DT_CALCRECT);
  const int iTextHeight = rcMeasure.bottom - rcMeasure.top;
  rcText.top += ((rcText.bottom - rcText.top) - iTextHeight) / 2;
  rcText.bottom = rcText.top + iTextHeight;
  SetBkMode(hDC, TRANSPARENT);
  SetBkColor(hDC, GetSysColor(COLOR_BTNFACE));
  if (m_bIsDisabled) {
    RECT rcShifted = rcText;
    OffsetRect(&rcShifted, 1, 1);
    SetTextColor(hDC, GetSysColor(COLOR_3DHILIGHT));
    ::DrawTextW(hDC, sText, -1, &rcShifted, DT_WORDBREAK | DT_CENTER);
    SetTextColor(hDC, GetSysColor(COLOR_3DSHADOW));
  } else {
    SetTextColor(hDC, GetSysColor(COLOR_BTNTEXT));
  }
  ::DrawTextW(hDC, sText, -1, &rcText, DT_WORDBREAK | DT_CENTER);
  if (hOld) SelectObject(hDC, hOld);
}

void StyleButton::PostToParent(UINT uMsg, LPARAM lParam) {
  POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  ClientToScreen(m_hWnd, &pt);
  PostMessageW(GetParent(m_hWnd), uMsg, 0, MAKELPARAM(pt.x, pt.y));
}

void StyleButton::SetHover(bool bHover) {
  if (m_bMouseOnButton == bHover) return;
  m_bMouseOnButton = bHover;
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

LRESULT StyleButton::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) {
  HWND hWnd = m_hWnd;
  bHandled = true;
  switch (uMsg) {
    case BM_SETSTYLE: {
      const UINT uType = static_cast<UINT>(wParam) & kTypeMask;
      if (uType == BS_DEFPUSHBUTTON) m_bIsDefault = true;
      else if (uType == BS_PUSHBUTTON) m_bIsDefault = false;
      return DefSubclassProc(hWnd, uMsg, (wParam & ~static_cast<WPARAM>(kTypeMask)) | BS_OWNERDRAW, lParam);
    }
    case WM_GETDLGCODE: {
      const LRESULT lCode = DefSubclassProc(hWnd, uMsg, wParam, lParam);
      return lCode | (m_bIsDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      PostToParent(WM_LBUTTONDOWN, lParam);
      const LRESULT l = DefSubclassProc(hWnd, WM_LBUTTONDOWN, wParam, lParam);
      InvalidateRect(hWnd, nullptr, TRUE);
      return l;
    }
    case WM_LBUTTONUP: {
      PostToParent(WM_LBUTTONUP, lParam);
      const LRESULT l = DefSubclassProc(hWnd, uMsg, wParam, lParam);
      InvalidateRect(hWnd, nullptr, TRUE);
      return l;
    }
    case WM_MOUSEMOVE: {
      const LRESULT l = DefSubclassProc(hWnd, uMsg, wParam, lParam);
      if (!m_bTrackHover) return l;
      if ((wParam & MK_LBUTTON) && !m_bMouseOnButton) return l;
      POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      ClientToScreen(hWnd, &pt);
      if (WindowFromPoint(pt) == hWnd) {
        if (!m_bMouseOnButton) {
          SetHover(true);
          TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, hWnd, 0};
          TrackMouseEvent(&tme);
        }
      } else {
        SetHover(false);
      }
      return l;
    }
    case WM_MOUSELEAVE:
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
      SetHover(false);
      return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) SetHover(false);
      return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    case WM_ENABLE:
      if (!wParam) {
        HWND hParent = GetParent(hWnd);
        HWND hNext = GetNextDlgTabItem(hParent, hWnd, FALSE);
        SetFocus(hNext && hNext != hWnd ? hNext : hParent);
        SetHover(false);
      }
      return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    case WM_NCDESTROY:
      RemoveWindowSubclass(hWnd, &StyleButton::SubclassProc, kSubclassId);
      m_hWnd = nullptr;
      return DefSubclassProc(hWnd, uMsg, wParam, lParam);
  }
  bHandled = false;
  return 0;
}

LRESULT CALLBACK StyleButton::SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR pRef) {
  bool bHandled = false;
  const LRESULT l = reinterpret_cast<StyleButton*>(pRef)->OnMessage(uMsg, wParam, lParam, bHandled);
  return bHandled ? l : DefSubclassProc(hWnd, uMsg, wParam, lParam);
}
