// Holds a file open without any sharing until told to let go; with --image,
// open for reading and shared for reading only, the way a running program
// holds its own image (others may read and start it, not change or delete it).
//   FileHolder.exe <file> <ready-marker> <release-marker> [--image]
// Writes the ready marker once the file is held; ends when the release marker
// appears (or after two minutes).
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 4 || argc > 5) return 2;
  const bool bImage = argc == 5 && lstrcmpW(argv[4], L"--image") == 0;
  HANDLE hFile = bImage ? CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                        : CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
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
