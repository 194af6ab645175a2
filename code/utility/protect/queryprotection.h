#pragma once
#include <cstddef>
#include <string>

#include "code/utility/text/queryparameters.h"

// Protection of the launch query: the checksum text, the masking of the
// parameter text, its verification, and the random request parameter.
namespace Utility {

// Size of a checksum text buffer: 28 characters and the terminator.
constexpr std::size_t kCheckSumTextSize = 29;
// Longest parameter text DecryptQuery accepts (its work buffer holds 4096).
constexpr std::size_t kMaxParameterLength = 4095;
// Name of the random request parameter, "=" included.
constexpr const char kRandomParameterName[] = "myrand11262017=";
// Room AddRandomParameter needs after the URL: separator, name and token.
constexpr std::size_t kRandomParameterRoom = 54;

// Base64 text of the SHA-1 digest of sText (up to its NUL): always 28
// characters ending in "=". False when sOut holds less than 29 bytes.
bool SHA1Base64(const char* sText, char* sOut, std::size_t iOutSize);
std::string SHA1Base64(const std::string& sText);

// Masks or unmasks bytes in place (the operation is its own inverse). The key
// is chosen by sKind: "A", "M", "L", anything else a longer key. One byte in
// every key length + 1, and the last byte, stay as they are.
void ApplyMask(unsigned char* pData, std::size_t iLength, const char* sKind);

// sText holds base64 text; on return it holds the unmasked plain text, up to
// its first NUL byte. Always true.
bool UnmaskText(char* sText, const char* sKind);

// The inverse of UnmaskText: masks sPlain and gives its base64 text.
std::string MaskText(const std::string& sPlain, const char* sKind);

// Unmasks sParameter with kind "M", checks it against sCheckSum and, on a
// match, adds the pairs of the plain query (URL-decoded) to parameters.
// A mismatch, or a parameter longer than kMaxParameterLength, is logged and
// leaves parameters untouched.
bool DecryptQuery(const std::string& sParameter, const std::string& sCheckSum,
                  QueryParameters* parameters);

// The sender's side: sp (masked with kind "M", base64) and chk for a plain
// query such as "meeting_id=42&role=host". Neither is URL-encoded yet.
void ProtectQuery(const std::string& sPlainQuery, std::string& sParameter, std::string& sCheckSum);

// A token of letters and digits that differs on every call in the process.
void MakeRandomToken(std::string& sOut);

// Appends "?" or "&", kRandomParameterName and a fresh token to the URL.
// sURL is a buffer of iURLSize bytes; if the result does not fit, the URL is
// left as it was, the failure is logged and the result is false.
bool AddRandomParameter(char* sURL, std::size_t iURLSize);
void AddRandomParameter(std::string& sURL);

}  // namespace Utility
