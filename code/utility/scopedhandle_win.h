#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <utility>

// Move-only owner of one Windows handle (or C stream). One template; the
// traits struct says what "no handle" is and how to release one.
template <typename Traits>
class ScopedHandle {
 public:
  using Type = typename Traits::Type;
  ScopedHandle() : m_h(Traits::Invalid()) {}
  explicit ScopedHandle(Type h) : m_h(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(ScopedHandle&& o) noexcept : m_h(o.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  Type Get() const { return m_h; }
  bool IsValid() const { return m_h != Traits::Invalid(); }
  explicit operator bool() const { return IsValid(); }
  Type Release() {
    Type h = m_h;
    m_h = Traits::Invalid();
    return h;
  }
  void Reset(Type h = Traits::Invalid()) {
    if (IsValid()) Traits::Close(m_h);
    m_h = h;
  }

 private:
  Type m_h;
};

struct KernelHandleTraits {  // CreateFile, CreateEvent, processes, threads...
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
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
struct StdioFileTraits {
  using Type = FILE*;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { std::fclose(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedModule = ScopedHandle<ModuleTraits>;
using ScopedSocket = ScopedHandle<SocketTraits>;
using ScopedStdioFile = ScopedHandle<StdioFileTraits>;
