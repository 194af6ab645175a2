#pragma once
#include "code/utility/setupinterface.h"

class BootkinDialog;

// The application object: brings up the process-wide services, finds the
// settings and either runs the setup or registers the launch protocol.
class BootkinApp : public SetupInterface {
 public:
  bool InitInstance();

  // Worker threads report here; posts go to the progress dialog's window.
  void PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam) override;

  BootkinDialog* m_pDialog = nullptr;
};
