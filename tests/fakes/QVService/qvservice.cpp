// Stand-in for the client's service program: records how it was started and
// stays alive for "--stay-ms=N" (default 20 s).
#include "../common/fakeprogram.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  fake::Program oProgram;
  oProgram.RecordStart();
  Sleep(oProgram.Number(L"--stay-ms=", 20000));
  return 0;
}
