#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Text and byte helpers on narrow strings: base64, URL (form) coding,
// replace-all, splitting and byte-pattern searches. None of them logs.
namespace Utility {

// Standard base64 alphabet with "=" padding. With bLineBreaks a "\n" follows
// every 76 characters (none before the first or after the last line).
void Base64Encode(const unsigned char* pData, std::size_t iLength, std::string& sOutput,
                  bool bLineBreaks);

// Exact number of bytes Base64Decode produces for this input.
std::size_t Base64DecodedLength(const char* pInput, std::size_t iInputLength);

// Lenient decoding: CR/LF runs between groups are skipped, characters outside
// the alphabet count as 0, and only the third and fourth characters of a group
// are tested for "=". Never reads past the input: a short last group counts as
// padded ("QQ" like "QQ=="), a lone last character yields nothing.
// Writes at most iCapacity bytes: if the result would not fit, nothing is
// written, iCount is 0 and the result is false. No terminator is added.
bool Base64Decode(const char* pInput, std::size_t iInputLength, unsigned char* pOutput,
                  std::size_t iCapacity, std::size_t& iCount);
bool Base64Decode(const std::string& sInput, unsigned char* pOutput, std::size_t iCapacity,
                  std::size_t& iCount);
// Growable form.
std::string Base64Decode(const std::string& sInput);

// "%XX" (either case) gives the byte, "+" a space; anything else, malformed
// "%" sequences included, is kept.
std::string URLDecode(const std::string& sText);
// Keeps letters, digits, "-", "_" and "."; a space becomes "+"; every other
// byte becomes "%XX" with upper-case digits.
std::string URLEncode(const std::string& sText);

// Replaces every occurrence of sFind, left to right; inserted text is never
// searched again. An empty subject or sFind returns the subject unchanged.
std::string ReplaceAll(std::string sSubject, const std::string& sFind, const std::string& sReplace);

// Appends the parts of sText between occurrences of sDelimiter to parts
// (empty parts kept). An empty text clears parts and adds nothing.
void Split(const std::string& sText, const std::string& sDelimiter, std::vector<std::string>& parts);

// Splits sText at the last cSeparator into the part before and the part after
// (no separator: before is empty, after is the whole text). Both outputs are
// caller buffers with their capacity; if either part does not fit, both are
// left empty and the result is false. False also when an argument is missing.
bool SplitAtLast(const char* sText, char* sBefore, std::size_t iBeforeSize, char* sAfter,
                 std::size_t iAfterSize, char cSeparator);
template <std::size_t N, std::size_t M>
bool SplitAtLast(const char* sText, char (&sBefore)[N], char (&sAfter)[M], char cSeparator) {
  return SplitAtLast(sText, sBefore, N, sAfter, M, cSeparator);
}

std::string IntToString(int iValue);

// Index of the first / last occurrence of the pattern bytes in the buffer, or
// -1. Bytes are compared raw (NUL is an ordinary byte).
long long FindFirst(const void* pPattern, std::size_t iPatternLength, const void* pBuffer,
                    std::size_t iBufferLength);
long long FindLast(const void* pPattern, std::size_t iPatternLength, const void* pBuffer,
                   std::size_t iBufferLength);

}  // namespace Utility
