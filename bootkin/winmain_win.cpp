#include <windows.h>

#include "bootkin/bootkin.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR pCmdLine, int) {
  static BootkinApp theApp;
  theApp.SetCommandLine(pCmdLine);
  theApp.InitInstance();  // always false: no message loop follows
  return 0;
}
