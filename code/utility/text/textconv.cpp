#include "code/utility/text/textconv.h"

#include <cstdint>

// Portable UTF-8 <-> UTF-16 so the rule is tested natively too. Invalid
// sequences become U+FFFD, as the system converter does.
namespace TextConv {
namespace {
constexpr char32_t kReplacement = 0xFFFD;

char32_t NextCodePoint(const std::string& s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; }
  else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; }
  else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; }
  else return kReplacement;
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}
}  // namespace

std::wstring Utf8ToWide(const std::string& s) {
  std::u16string u;
  u.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = NextCodePoint(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      u += static_cast<char16_t>(0xD800 + (cp >> 10));
      u += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      u += static_cast<char16_t>(cp);
    }
  }
  return std::wstring(u.begin(), u.end());
}

std::string WideToUtf8(const std::wstring& w) {
  std::string out;
  out.reserve(w.size());
  for (std::size_t i = 0; i < w.size(); ++i) {
    char32_t cp = static_cast<char32_t>(w[i]) & 0xFFFF;
    if (sizeof(wchar_t) == 4) cp = static_cast<char32_t>(w[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size()) {
      const char32_t lo = static_cast<char32_t>(w[i + 1]);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      } else {
        cp = kReplacement;
      }
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::wstring Utf8ToWideBounded(const std::string& s, std::size_t capacity) {
  std::wstring w = Utf8ToWide(s);
  if (w.size() + 1 > capacity) return std::wstring();
  return w;
}

std::string WideToUtf8Bounded(const std::wstring& w, std::size_t capacity) {
  std::string s = WideToUtf8(w);
  if (s.size() + 1 > capacity) return std::string();
  return s;
}
}  // namespace TextConv
