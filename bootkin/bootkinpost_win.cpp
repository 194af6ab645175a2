#include "bootkin/bootkin.h"
#include "bootkin/bootkindialog.h"

void BootkinApp::PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam) {
  if (m_pDialog) {
    m_pDialog->PostFromWorker(uMessage, wParam, lParam);
  } else {
    SetupInterface::PostToDialog(uMessage, wParam, lParam);  // frees what cannot be delivered
  }
}
