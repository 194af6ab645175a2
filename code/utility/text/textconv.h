#pragma once
#include <string>

// UTF-8 <-> UTF-16 for Windows calls. The bounded forms follow the rule for
// fixed buffers: a text whose converted form needs the whole capacity or more
// converts to the empty string.
namespace TextConv {
std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& w);
// Result fits a buffer of `capacity` units (terminator included) or is empty.
std::wstring Utf8ToWideBounded(const std::string& s, std::size_t capacity);
std::string WideToUtf8Bounded(const std::wstring& w, std::size_t capacity);
}  // namespace TextConv
