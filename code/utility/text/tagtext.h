#pragma once
#include <cstddef>
#include <string>

// Tagged text: runs of <__Name__>value</__Name__> elements. Callers pass the
// full start and end tags. Both operations act on the first start tag only.
//
// Outputs are caller buffers with their capacity (terminator included). A
// value or rewritten text that does not fit is refused, never cut:
//  - Extract: false, output empty (also for every other failure);
//  - Replace: false, output untouched.
namespace TagText {

bool Extract(const char* sText, const char* sStartTag, const char* sEndTag, char* sOutput,
             std::size_t iOutputSize);

// The output must not overlap the text. When an argument is missing, the text
// is copied whole into the output (if it fits; otherwise the output is left
// empty) and the result is false.
bool Replace(const char* sText, const char* sNewValue, const char* sStartTag, const char* sEndTag,
             char* sOutput, std::size_t iOutputSize);

// Growable forms for callers that keep std::string storage.
bool Extract(const char* sText, const char* sStartTag, const char* sEndTag, std::string& sOutput);
bool Replace(const char* sText, const char* sNewValue, const char* sStartTag, const char* sEndTag,
             std::string& sOutput);

template <std::size_t N>
bool Extract(const char* sText, const char* sStartTag, const char* sEndTag, char (&sOutput)[N]) {
  return Extract(sText, sStartTag, sEndTag, sOutput, N);
}
template <std::size_t N>
bool Replace(const char* sText, const char* sNewValue, const char* sStartTag, const char* sEndTag,
             char (&sOutput)[N]) {
  return Replace(sText, sNewValue, sStartTag, sEndTag, sOutput, N);
}

}  // namespace TagText
