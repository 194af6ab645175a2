// A library that only tells that it was loaded. The tests put copies of it
// beside a program under the names of system libraries (jsproxy.dll,
// dbghelp.dll), the way a hostile download would land next to the starter in
// the Downloads folder. When loaded it appends one line to
// "<its own file>.loaded": the full path of the program that loaded it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD iReason, LPVOID) {
  if (iReason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t sMarker[MAX_PATH + 16] = {0};
  const DWORD n = GetModuleFileNameW(hInstance, sMarker, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcatW(sMarker, L".loaded");
  char sProgram[MAX_PATH * 3 + 2] = {0};
  wchar_t sWide[MAX_PATH + 1] = {0};
  const DWORD m = GetModuleFileNameW(nullptr, sWide, MAX_PATH);
  int iLength = 0;
  if (m > 0 && m < MAX_PATH)
    iLength = WideCharToMultiByte(CP_UTF8, 0, sWide, static_cast<int>(m), sProgram, MAX_PATH * 3, nullptr, nullptr);
  sProgram[iLength++] = '\n';
  HANDLE hFile = CreateFileW(sMarker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile != INVALID_HANDLE_VALUE) {
    DWORD iWritten = 0;
    WriteFile(hFile, sProgram, static_cast<DWORD>(iLength), &iWritten, nullptr);
    CloseHandle(hFile);
  }
  return TRUE;
}
