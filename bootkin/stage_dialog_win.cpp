#include <new>

#include "bootkin/bootkin.h"
#include "bootkin/bootkindialog_win.h"
#include "bootkin/startstages_win.h"

bool StartStages::RegisterDialogClass(HINSTANCE hInstance) { return BootkinDialog::RegisterWindowClass(hInstance); }

void StartStages::CreateDialogObject(BootkinApp& oApp) { oApp.m_pDialog = new (std::nothrow) BootkinDialog(); }

void StartStages::SetDialogSmallIcon(BootkinApp& oApp, int iIconId) {
  if (oApp.m_pDialog == nullptr) return;
  HICON hIcon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iIconId), IMAGE_ICON, 16, 16,
                                              LR_SHARED));
  oApp.m_pDialog->SetSmallIcon(hIcon);
}

void StartStages::RunDialog(BootkinApp& oApp) {
  if (oApp.m_pDialog) oApp.m_pDialog->DoModal();
}
