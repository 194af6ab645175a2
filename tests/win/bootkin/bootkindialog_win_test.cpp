#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bootkin/bootkin.h"
#include "bootkin/bootkindialog_win.h"
#include "bootkin/progressctrl_win.h"
#include "bootkin/resource.h"
#include "code/setuphandler/setupinterface.h"
#include "code/utility/text/textconv.h"

namespace {

// Polls until the condition holds; generous, so slow machines still pass.
bool WaitFor(const std::function<bool()>& fCondition, int iSeconds = 30) {
  for (int i = 0; i < iSeconds * 100; ++i) {
    if (fCondition()) return true;
    Sleep(10);
  }
  return fCondition();
}

std::string ItemText(HWND hDialog, int iId) {
  wchar_t sText[1100] = {};
  GetWindowTextW(GetDlgItem(hDialog, iId), sText, 1100);
  return TextConv::WideToUtf8(sText);
}

RECT ClientRectOf(HWND hDialog, int iId) {
  RECT rc;
  GetWindowRect(GetDlgItem(hDialog, iId), &rc);
  MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

std::string RectText(const RECT& rc) {
  return std::to_string(rc.left) + "," + std::to_string(rc.top) + "," + std::to_string(rc.right) + "," +
         std::to_string(rc.bottom);
}

const int kProgressItems[] = {1000, 1002, 1003, 1005, 1006, 1007, 1008, 1009};

// What the user sees at one moment.
struct Seen {
  std::string sStatus;
  RECT rcStatus{};
  std::vector<bool> aProgressItemsVisible;
  int iBarPosition = -1;
  std::string sPercent, sSpeed, sSeconds;
};

Seen Look(HWND hDialog) {
  Seen s;
  s.sStatus = ItemText(hDialog, 1004);
  s.rcStatus = ClientRectOf(hDialog, 1004);
  for (int iId : kProgressItems) s.aProgressItemsVisible.push_back(IsWindowVisible(GetDlgItem(hDialog, iId)) != 0);
  s.iBarPosition = static_cast<int>(SendMessageW(GetDlgItem(hDialog, 1000), PBM_GETPOS, 0, 0));
  s.sPercent = ItemText(hDialog, 1002);
  s.sSpeed = ItemText(hDialog, 1005);
  s.sSeconds = ItemText(hDialog, 1008);
  return s;
}

const std::vector<bool> kAllVisible(8, true);
const std::vector<bool> kAllHidden(8, false);

// Runs the dialog modally on this thread while fDriver runs on a worker
// thread; the driver closes the dialog when it is done (or the time-out does).
class DialogFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BootkinDialog::RegisterWindowClass(GetModuleHandleW(nullptr)); }

  void SetUp() override {
    m_iBlocksBefore = SetupMessage::LiveTextBlocks();
    m_app.m_pDialog = &m_dialog;
  }

  void RunDialog(const std::function<void(HWND)>& fDriver) {
    std::thread worker([&] {
      HWND hWnd = nullptr;
      if (WaitFor([&] { return (hWnd = m_dialog.GetSafeHwnd()) != nullptr && IsWindowVisible(hWnd); })) {
        fDriver(hWnd);
        PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
      }
    });
    m_iResult = m_dialog.DoModal();
    worker.join();
  }

  // All text blocks handed over so far have been taken and freed.
  bool Drained() const {
    return WaitFor([&] { return SetupMessage::LiveTextBlocks() == m_iBlocksBefore; });
  }
  void Post(unsigned int uMessage, const std::string& sText) { m_app.PostText(uMessage, sText); }
  Seen PostAndLook(HWND hWnd, unsigned int uMessage, const std::string& sText) {
    Post(uMessage, sText);
    EXPECT_TRUE(Drained());
    return Look(hWnd);
  }

  BootkinDialog m_dialog;
  BootkinApp m_app;
  long m_iBlocksBefore = 0;
  INT_PTR m_iResult = 0;
};

TEST_F(DialogFixture, ShowsTemplateAndTopmostCentredPanel) {
  std::map<std::string, std::string> texts;
  wchar_t sClass[64] = {};
  LONG_PTR lStyle = 0, lExStyle = 0, lButtonStyle = 0;
  RECT rcWindow{}, rcDesktop{}, rcStatus{}, rcExpected{};
  int iLow = -1, iHigh = -1;
  Seen initial;
  const HICON hSmall = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SMALL_PALLIDA), IMAGE_ICON, 16, 16, LR_SHARED));
  ASSERT_NE(hSmall, nullptr);
  m_dialog.SetSmallIcon(hSmall);
  HICON hSmallSeen = nullptr, hBigSeen = nullptr;
  RunDialog([&](HWND hWnd) {
    hSmallSeen = reinterpret_cast<HICON>(SendMessageW(hWnd, WM_GETICON, ICON_SMALL, 0));
    hBigSeen = reinterpret_cast<HICON>(SendMessageW(hWnd, WM_GETICON, ICON_BIG, 0));
    wchar_t sTitle[64] = {};
    GetWindowTextW(hWnd, sTitle, 64);
    texts["title"] = TextConv::WideToUtf8(sTitle);
    for (int iId : {1003, 1005, 1006, 1007, 1008, 1009}) texts[std::to_string(iId)] = ItemText(hWnd, iId);
    GetClassNameW(hWnd, sClass, 64);
    lStyle = GetWindowLongPtrW(hWnd, GWL_STYLE);
    lExStyle = GetWindowLongPtrW(hWnd, GWL_EXSTYLE);
    lButtonStyle = GetWindowLongPtrW(GetDlgItem(hWnd, 1001), GWL_STYLE);
    GetWindowRect(hWnd, &rcWindow);
    GetWindowRect(GetDesktopWindow(), &rcDesktop);
    rcStatus = ClientRectOf(hWnd, 1004);
    rcExpected = {4, 4, 4 + 240, 4 + 10};
    MapDialogRect(hWnd, &rcExpected);
    PBRANGE range{};
    SendMessageW(GetDlgItem(hWnd, 1000), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    iLow = range.iLow;
    iHigh = range.iHigh;
    initial = Look(hWnd);
  });
  EXPECT_EQ(hSmallSeen, hSmall);
  EXPECT_EQ(hBigSeen, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME)));
  EXPECT_EQ(texts["title"], "Bootkin");
  EXPECT_EQ(texts["1003"], "Speed:");
  EXPECT_EQ(texts["1005"], "100");
  EXPECT_EQ(texts["1006"], "kbps,");
  EXPECT_EQ(texts["1007"], "Time Remaining:");
  EXPECT_EQ(texts["1008"], "25");
  EXPECT_EQ(texts["1009"], "seconds");
  EXPECT_EQ(std::wstring(sClass), L"QVSetupWindow");
  EXPECT_EQ(lStyle & (WS_CAPTION | WS_BORDER | WS_THICKFRAME), 0);
  EXPECT_TRUE(lStyle & WS_POPUP);
  EXPECT_TRUE(lExStyle & WS_EX_TOPMOST);
  EXPECT_TRUE(lExStyle & WS_EX_APPWINDOW);
  EXPECT_EQ(lButtonStyle & 0x1F, BS_OWNERDRAW);
  EXPECT_EQ(iLow, 0);
  EXPECT_EQ(iHigh, 100);
  EXPECT_EQ(RectText(rcStatus), RectText(rcExpected));
  const int iWidth = rcWindow.right - rcWindow.left, iHeight = rcWindow.bottom - rcWindow.top;
  EXPECT_EQ(rcWindow.left, (rcDesktop.right - iWidth) / 2);
  EXPECT_EQ(rcWindow.top, (rcDesktop.bottom - iHeight) / 2);
  EXPECT_EQ(initial.aProgressItemsVisible, kAllVisible);
  EXPECT_EQ(initial.iBarPosition, 0);
  EXPECT_EQ(m_iResult, IDCANCEL);
}

TEST_F(DialogFixture, MessagesSwitchLayoutsAndShowProgress) {
  RECT rcInitial{};
  int iLogPixels = 0;
  Seen connecting, downloading, summary, again;
  std::vector<Seen> progress;
  const char* const kProgressTexts[] = {"37,512,90", "100,0,0", "abc,x9,", "12abc,-3", "", "55"};
  const std::string kSummary =
      "Setup Quorumvessel ...\n\nSummary - average speed: 512 kbps, total time: 90 seconds";
  RunDialog([&](HWND hWnd) {
    rcInitial = ClientRectOf(hWnd, 1004);
    HDC hDC = GetDC(hWnd);
    iLogPixels = GetDeviceCaps(hDC, LOGPIXELSX);
    ReleaseDC(hWnd, hDC);
    connecting = PostAndLook(hWnd, 6039, "Connecting ...");
    downloading = PostAndLook(hWnd, 6040, "Downloading Quorumvessel ...");
    for (const char* sText : kProgressTexts) progress.push_back(PostAndLook(hWnd, 6041, sText));
    summary = PostAndLook(hWnd, 6042, kSummary);
    again = PostAndLook(hWnd, 6040, "Downloading Quorumvessel ...");
  });
  // The status layout: 15 and 10 units right and down, as wide as the
  // initial right edge, 30 units taller; units scaled by the DPI.
  const float fScale = iLogPixels / 96.0f;
  const int iLeft = rcInitial.left + static_cast<int>(15 * fScale);
  const int iTop = rcInitial.top + static_cast<int>(10 * fScale);
  const RECT rcStatusLayout = {iLeft, iTop, iLeft + rcInitial.right,
                               iTop + rcInitial.bottom + static_cast<int>(30 * fScale)};

  EXPECT_EQ(connecting.sStatus, "Connecting ...");
  EXPECT_EQ(connecting.aProgressItemsVisible, kAllHidden);
  EXPECT_EQ(RectText(connecting.rcStatus), RectText(rcStatusLayout));

  EXPECT_EQ(downloading.sStatus, "Downloading Quorumvessel ...");
  EXPECT_EQ(downloading.aProgressItemsVisible, kAllVisible);
  EXPECT_EQ(RectText(downloading.rcStatus), RectText(rcInitial));

  struct Expected {
    int iBar;
    const char *sPercent, *sSpeed, *sSeconds;
  };
  const Expected kExpected[] = {{37, "37%", "512", "90"}, {100, "100%", "0", "0"}, {0, "0%", "0", "0"},
                                {12, "12%", "-3", "0"},   {0, "0%", "0", "0"},     {55, "55%", "0", "0"}};
  ASSERT_EQ(progress.size(), 6u);
  for (size_t i = 0; i < progress.size(); ++i) {
    SCOPED_TRACE(kProgressTexts[i]);
    EXPECT_EQ(progress[i].iBarPosition, kExpected[i].iBar);
    EXPECT_EQ(progress[i].sPercent, kExpected[i].sPercent);
    EXPECT_EQ(progress[i].sSpeed, kExpected[i].sSpeed);
    EXPECT_EQ(progress[i].sSeconds, kExpected[i].sSeconds);
    EXPECT_EQ(progress[i].sStatus, "Downloading Quorumvessel ...");
  }

  EXPECT_EQ(summary.sStatus, kSummary);
  EXPECT_EQ(summary.aProgressItemsVisible, kAllHidden);
  EXPECT_EQ(RectText(summary.rcStatus), RectText(rcStatusLayout));
  EXPECT_EQ(again.aProgressItemsVisible, kAllVisible);
  EXPECT_EQ(RectText(again.rcStatus), RectText(rcInitial));
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), m_iBlocksBefore);
}

TEST_F(DialogFixture, MessagesPostedBeforeTheWindowArriveInOrder) {
  std::thread early([&] {
    Post(6039, "Connecting ...");
    Post(6040, "Downloading Quorumvessel ...");
    Post(6041, "5,6,7");
    Post(6041, "8,9,10");
  });
  early.join();
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), m_iBlocksBefore + 4);  // waiting, not lost
  Seen seen;
  RunDialog([&](HWND hWnd) {
    Drained();
    seen = Look(hWnd);
  });
  EXPECT_EQ(seen.sStatus, "Downloading Quorumvessel ...");
  EXPECT_EQ(seen.aProgressItemsVisible, kAllVisible);
  EXPECT_EQ(seen.iBarPosition, 8);
  EXPECT_EQ(seen.sPercent, "8%");
  EXPECT_EQ(seen.sSeconds, "10");
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), m_iBlocksBefore);
}

TEST_F(DialogFixture, SetupFailureTellsTheUserAndStaysOpen) {
  Seen seen;
  bool bStillOpen = false;
  RunDialog([&](HWND hWnd) {
    Post(6040, "Downloading Quorumvessel ...");
    m_app.PostToDialog(6043, 0, 0);
    WaitFor([&] { return !IsWindowVisible(GetDlgItem(hWnd, 1000)); });
    Sleep(300);
    bStillOpen = IsWindow(hWnd) && IsWindowVisible(hWnd);
    seen = Look(hWnd);
  });
  EXPECT_TRUE(bStillOpen);
  EXPECT_EQ(seen.sStatus, "Setup could not be started.\n\nPlease close this window and try again.");
  EXPECT_EQ(seen.aProgressItemsVisible, kAllHidden);
  EXPECT_EQ(m_iResult, IDCANCEL);
}

TEST_F(DialogFixture, TextBlocksThatCannotBeShownAreFreed) {
  // Posted as the window goes away: taken from its queue or refused.
  RunDialog([&](HWND hWnd) {
    PostMessageW(hWnd, WM_COMMAND, IDCANCEL, 0);
    for (int i = 0; i < 20; ++i) Post(6041, "50,1,1");
  });
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), m_iBlocksBefore);
  // After the dialog has closed, and with no dialog at all.
  Post(6039, "Connecting ...");
  Post(6042, "Download is incomplete. Please try it again");
  BootkinApp noDialog;
  noDialog.PostText(6039, "Connecting ...");
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), m_iBlocksBefore);
}

TEST_F(DialogFixture, TextMessagesWithNumbersThatAreNoBlockOfOursAreIgnored) {
  // Any program can post these message numbers with any wParam: a readable
  // address that is no block (its text must not be shown nor the memory
  // freed), a wild one, zero and a block that was already taken.
  static char aForeign[SetupMessage::kTextBlockSize] = "77,1,2";
  const std::uintptr_t kForeign[] = {reinterpret_cast<std::uintptr_t>(aForeign), 0x12345678u, 0x10, 0};
  Seen before, after, later;
  bool bAnswers = false;
  RunDialog([&](HWND hWnd) {
    PostAndLook(hWnd, 6040, "Downloading Quorumvessel ...");
    const char* pTaken = SetupMessage::NewTextBlock("90,9,9");
    m_app.PostToDialog(6041, reinterpret_cast<std::uintptr_t>(pTaken), 0);
    EXPECT_TRUE(Drained());
    before = Look(hWnd);
    for (unsigned int u = 6039; u <= 6042; ++u) {
      for (std::uintptr_t w : kForeign) PostMessageW(hWnd, u, w, 0);
    }
    PostMessageW(hWnd, 6041, reinterpret_cast<WPARAM>(pTaken), 0);  // taken already
    // The window handles posted messages in order: once this one shows,
    // every foreign one before it has been dealt with.
    Post(6041, "41,4,1");
    EXPECT_TRUE(Drained());
    DWORD_PTR iResult = 0;
    bAnswers = SendMessageTimeoutW(hWnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &iResult) != 0;
    after = Look(hWnd);
    Post(6042, "Setup Quorumvessel ...");
    EXPECT_TRUE(Drained());
    later = Look(hWnd);
  });
  EXPECT_TRUE(bAnswers);
  EXPECT_STREQ(aForeign, "77,1,2");
  EXPECT_EQ(before.sPercent, "90%");
  // Only the real progress after the foreign posts shows.
  EXPECT_EQ(after.sStatus, "Downloading Quorumvessel ...");
  EXPECT_EQ(after.aProgressItemsVisible, kAllVisible);
  EXPECT_EQ(after.iBarPosition, 41);
  EXPECT_EQ(after.sPercent, "41%");
  EXPECT_EQ(after.sSpeed, "4");
  EXPECT_EQ(after.sSeconds, "1");
  EXPECT_EQ(later.sStatus, "Setup Quorumvessel ...");
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), m_iBlocksBefore);
}

TEST_F(DialogFixture, EscapeAndEnterEndTheDialog) {
  for (WPARAM wKey : {VK_ESCAPE, VK_RETURN}) {
    BootkinDialog dialog;
    bool bClosedByKey = false;
    std::thread worker([&] {
      HWND hWnd = nullptr;
      if (!WaitFor([&] { return (hWnd = dialog.GetSafeHwnd()) != nullptr; })) return;
      PostMessageW(hWnd, WM_KEYDOWN, wKey, 0);
      bClosedByKey = WaitFor([&] { return !IsWindow(hWnd); }, 10);
      if (!bClosedByKey) PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), 0);
    });
    const INT_PTR iResult = dialog.DoModal();
    worker.join();
    EXPECT_TRUE(bClosedByKey) << wKey;
    EXPECT_EQ(iResult, wKey == VK_ESCAPE ? IDCANCEL : IDOK);
  }
}

TEST(ProgressCtrlDoneWidth, MovesInWholePercents) {
  struct Case {
    int iLower, iUpper, iPosition, iWidth, iDone;
  };
  const Case kCases[] = {
      {0, 100, 37, 150, 55}, {0, 100, 0, 150, 0},   {0, 100, 100, 150, 150},
      {0, 100, 101, 150, 0}, {0, 100, -1, 150, 0},  {10, 20, 15, 100, 50},
      {0, 3, 1, 100, 33},    {5, 5, 5, 100, 0},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(ProgressCtrl::DoneWidth(c.iLower, c.iUpper, c.iPosition, c.iWidth), c.iDone)
        << c.iLower << ".." << c.iUpper << " at " << c.iPosition;
  }
}

}  // namespace
