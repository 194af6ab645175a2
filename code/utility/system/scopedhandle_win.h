#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <type_traits>
#include <utility>

#include "code/utility/system/scopedhandle.h"

// Traits of the Windows types; ScopedHandle, ScopedKernelHandle and
// ScopedInternet themselves are in scopedhandle.h.
static_assert(std::is_same<HANDLE, KernelHandleTraits::Type>::value, "a HANDLE is a void*");

struct FileHandleTraits {  // CreateFileW, whose failure is INVALID_HANDLE_VALUE
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};
struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { FindClose(h); }
};
struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { RegCloseKey(h); }
};
struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { FreeLibrary(h); }
};
struct SocketTraits {
  using Type = SOCKET;
  static Type Invalid() { return INVALID_SOCKET; }
  static void Close(Type h) { closesocket(h); }
};

using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedModule = ScopedHandle<ModuleTraits>;
using ScopedSocket = ScopedHandle<SocketTraits>;

// Blocks the system hands out to be released with GlobalFree (proxy option
// texts, the auto-config script's answer).
struct GlobalMemoryTraits {
  using Type = HGLOBAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { GlobalFree(h); }
};
struct SidTraits {  // AllocateAndInitializeSid
  using Type = PSID;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { FreeSid(h); }
};

using ScopedGlobalMemory = ScopedHandle<GlobalMemoryTraits>;
using ScopedSid = ScopedHandle<SidTraits>;
