// Loads a library by name with the system's ordinary search, nothing else:
//   LibraryProbe.exe <library name>
// Exit code 0 when it loaded, 1 when not, 2 without an argument. Put beside
// a planted library, it shows that the planted copy is what an unrestricted
// search would load.
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 2) return 2;
  return LoadLibraryW(argv[1]) != nullptr ? 0 : 1;
}
