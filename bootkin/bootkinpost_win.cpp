#include "bootkin/bootkin.h"

#include "bootkin/bootkindialog_win.h"
#include "code/buildflavor.h"
#include "code/setuphandler/setupinterface.h"

void BootkinApp::PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam) {
  if (const auto pTrace = GetBuildFlavor().pTraceWindowMessage) {
    pTrace(uMessage, SetupMessage::CarriesText(uMessage) ? SetupMessage::ReadTextBlock(wParam).c_str() : nullptr);
  }
  if (m_pDialog) {
    m_pDialog->PostFromWorker(uMessage, wParam, lParam);
  } else {
    SetupInterface::PostToDialog(uMessage, wParam, lParam);  // frees what cannot be delivered
  }
}
