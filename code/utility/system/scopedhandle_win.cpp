#include "code/utility/system/scopedhandle_win.h"

#include <wininet.h>

#include <type_traits>

static_assert(std::is_same<HINTERNET, InternetHandleTraits::Type>::value, "an HINTERNET is a void*");

void KernelHandleTraits::Close(Type h) {
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

void InternetHandleTraits::Close(Type h) { InternetCloseHandle(static_cast<HINTERNET>(h)); }
