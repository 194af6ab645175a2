#include <windows.h>

#include "bootkin/bootkin.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static BootkinApp theApp;
  theApp.InitInstance();  // always false: no message loop follows
  return 0;
}
