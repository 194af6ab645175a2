// Holds a file open without any sharing, the way a running program holds its
// own image, until told to let go.
//   FileHolder.exe <file> <ready-marker> <release-marker>
// Writes the ready marker once the file is held; ends when the release marker
// appears (or after two minutes).
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 4) return 2;
  HANDLE hFile = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return 1;
  HANDLE hReady = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hReady != INVALID_HANDLE_VALUE) CloseHandle(hReady);
  for (int i = 0; i < 2400; ++i) {
    if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  CloseHandle(hFile);
  return 0;
}
