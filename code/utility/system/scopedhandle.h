#pragma once
#include <cstddef>
#include <cstdio>

// Move-only owner of one handle (or C stream, or system heap block). One
// template; the traits struct says what "no handle" is and how to release
// one. This header stays free of <windows.h>, so that core headers can own
// the kernel and internet handles they keep as void*; the traits of the other
// Windows types are in scopedhandle_win.h.
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

  // For code written against a plain handle member: "h == nullptr" asks
  // whether none is held, static_cast<Type>(h) is Get().
  explicit operator Type() const { return m_h; }
  bool operator==(std::nullptr_t) const { return !IsValid(); }
  bool operator!=(std::nullptr_t) const { return IsValid(); }

 private:
  Type m_h;
};

// Kernel objects: events, threads, processes, tokens, mutexes and files
// opened by CreateFile where null is the failure (a HANDLE is a void*).
// Close is defined with the Windows code (scopedhandle_win.cpp).
struct KernelHandleTraits {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type h);
};

// WinInet handles (an HINTERNET is a void*): sessions, connections, requests.
struct InternetHandleTraits {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type h);
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedInternet = ScopedHandle<InternetHandleTraits>;

// C streams (fopen, _wfopen).
struct StdioFileTraits {
  using Type = std::FILE*;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { std::fclose(h); }
};

using ScopedStdioFile = ScopedHandle<StdioFileTraits>;
