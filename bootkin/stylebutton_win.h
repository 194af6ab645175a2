#pragma once
#include <windows.h>

// A push button that paints a flat face with an icon (and text, if any).
// Subclasses an existing button and turns it into an owner-drawn one; the
// parent forwards WM_DRAWITEM for it to DrawItem.
class StyleButton {
 public:
  static constexpr COLORREF kFace = RGB(220, 217, 213);

  StyleButton() = default;
  virtual ~StyleButton();
  StyleButton(const StyleButton&) = delete;
  StyleButton& operator=(const StyleButton&) = delete;

  bool SubclassDlgItem(int iId, HWND hParent);
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Loads the icon resource at its natural size and keeps a private copy;
  // the previous copy is destroyed.
  bool SetIcon(int iResourceId);
  void SetIconAlign(int iAlign, bool bRepaint);

  // Entry of the parent's WM_DRAWITEM: face, icon, then text.
  void DrawItem(const DRAWITEMSTRUCT* pDraw);

  bool IsDefault() const { return m_bIsDefault; }
  HICON GetIcon() const { return m_hIcon; }

 protected:
  virtual void DrawFace(HDC hDC, const RECT& rcItem);
  virtual void DrawIcon(HDC hDC, const RECT& rcItem, bool bHasText);
  virtual void DrawText(HDC hDC, const RECT& rcItem, const wchar_t* sText);

 private:
  static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uId,
                                       DWORD_PTR pRef);
  LRESULT OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
  void PostToParent(UINT uMsg, LPARAM lParam);
  void SetHover(bool bHover);
  void FreeIcon();

  HWND m_hWnd = nullptr;
  bool m_bTrackHover = true;
  bool m_bMouseOnButton = false;
  bool m_bIsPressed = false;
  bool m_bIsFocused = false;
  bool m_bIsDisabled = false;
  bool m_bIsDefault = false;
  int m_iAlign = 0;  // 0: icon left of any text; centred without text
  int m_iXMargin = 3;
  int m_iYMargin = 3;
  UINT m_uTypeStyle = 31;  // button type bits before the switch to owner-draw
  HICON m_hIcon = nullptr;
  int m_iIconWidth = 0;
  int m_iIconHeight = 0;
};
