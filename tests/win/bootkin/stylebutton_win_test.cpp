#include <windows.h>

#include <gtest/gtest.h>

#include "bootkin/resource.h"
#include "bootkin/stylebutton_win.h"

namespace {

// A plain top-level parent with one push button of the given type.
class ButtonFixture : public ::testing::Test {
 protected:
  void Make(DWORD uType) {
    m_hParent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 100, 120, 200, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(m_hParent, nullptr);
    m_hButton = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | uType, 10, 20, 14, 12, m_hParent,
                                reinterpret_cast<HMENU>(1001), GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(m_hButton, nullptr);
    ASSERT_TRUE(m_button.SubclassDlgItem(1001, m_hParent));
  }
  void TearDown() override {
    if (m_hParent) DestroyWindow(m_hParent);
  }
  HWND m_hParent = nullptr;
  HWND m_hButton = nullptr;
  StyleButton m_button;
};

TEST_F(ButtonFixture, BecomesOwnerDrawnAndKeepsItsDefaultRole) {
  struct Case {
    DWORD uType;
    bool bDefault;
  };
  for (const Case& c : {Case{BS_PUSHBUTTON, false}, Case{BS_DEFPUSHBUTTON, true}}) {
    Make(c.uType);
    EXPECT_EQ(GetWindowLongPtrW(m_hButton, GWL_STYLE) & 0x1F, BS_OWNERDRAW);
    EXPECT_EQ(m_button.IsDefault(), c.bDefault);
    const LRESULT lCode = SendMessageW(m_hButton, WM_GETDLGCODE, 0, 0);
    EXPECT_EQ((lCode & DLGC_DEFPUSHBUTTON) != 0, c.bDefault);
    EXPECT_EQ((lCode & DLGC_UNDEFPUSHBUTTON) != 0, !c.bDefault);
    // Made default (or not) later: still owner-drawn.
    SendMessageW(m_hButton, BM_SETSTYLE, c.bDefault ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON, TRUE);
    EXPECT_EQ(m_button.IsDefault(), !c.bDefault);
    EXPECT_EQ(GetWindowLongPtrW(m_hButton, GWL_STYLE) & 0x1F, BS_OWNERDRAW);
    DestroyWindow(m_hParent);
    m_hParent = nullptr;
  }
}

TEST_F(ButtonFixture, ReplacingTheIconDestroysThePreviousCopy) {
  Make(BS_PUSHBUTTON);
  ASSERT_TRUE(m_button.SetIcon(IDI_CLOSE_GLYPH));
  const HICON hFirst = m_button.GetIcon();
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(hFirst, &info));
  BITMAP bm = {};
  GetObjectW(info.hbmColor, sizeof(bm), &bm);
  EXPECT_EQ(bm.bmWidth, 8);  // natural size of the glyph
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  ASSERT_TRUE(m_button.SetIcon(IDI_SMALL_DEFAULT));
  EXPECT_NE(m_button.GetIcon(), hFirst);
  EXPECT_FALSE(GetIconInfo(hFirst, &info));
}

TEST_F(ButtonFixture, PressTellsTheParentInScreenCoordinates) {
  Make(BS_PUSHBUTTON);
  MSG msg;
  while (PeekMessageW(&msg, m_hParent, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  SendMessageW(m_hButton, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 3));
  SendMessageW(m_hButton, WM_LBUTTONUP, 0, MAKELPARAM(2, 3));
  POINT pt = {2, 3};
  ClientToScreen(m_hButton, &pt);
  ASSERT_TRUE(PeekMessageW(&msg, m_hParent, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE));
  EXPECT_EQ(msg.lParam, MAKELPARAM(pt.x, pt.y));
  ASSERT_TRUE(PeekMessageW(&msg, m_hParent, WM_LBUTTONUP, WM_LBUTTONUP, PM_REMOVE));
  EXPECT_EQ(msg.lParam, MAKELPARAM(pt.x, pt.y));
  ReleaseCapture();
}

}  // namespace
