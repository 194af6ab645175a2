#pragma once

// Last line of defence against a crash: a process-wide unhandled-exception
// filter that leaves ERRORLOG.TXT (the loaded modules) and CRASH.DMP (a
// minidump) beside the executable, sends the error report and lets the
// process end. Only the first exception that reaches it is handled.

struct _EXCEPTION_POINTERS;

class CrashHandler {
 public:
  // Installs the filter for the process. Start-up calls it first thing on the
  // main thread, and every worker thread calls it again as the first step of
  // its thread function.
  static void InstallFilter();

  // The test build can be told to crash on purpose at a named point ("main"
  // on the main thread once the settings are in hand, "worker" on the setup
  // worker thread, "report" inside the error report). Does nothing in the
  // shipping build.
  static void CrashPoint(const char* sWhere);

  // The filter itself. sContext names the installer ("Default"); it is not
  // written anywhere. Returns EXCEPTION_EXECUTE_HANDLER after a handled crash,
  // EXCEPTION_CONTINUE_SEARCH for a second exception, when ERRORLOG.TXT cannot
  // be created or when a debugger is attached.
  static long UnhandledExceptionFilter(_EXCEPTION_POINTERS* pExceptionPointers, const char* sContext);

  // Writes a minidump into an open file; without exception pointers, a dump of
  // the calling thread as it is now.
  static void WriteMiniDump(void* hFile, _EXCEPTION_POINTERS* pExceptionPointers);

  // Report writer: one block per loaded module, buffered in a static buffer
  // of UTF-16 characters that is written out as it fills up and on Flush.
  static void WriteModuleList(void* hFile);
  static void Print(void* hFile, const wchar_t* sFormat, ...);
  static void Flush(void* hFile);

  // True once a crash has been taken by the filter.
  static bool HasHandledCrash();
};
