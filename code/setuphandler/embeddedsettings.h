#pragma once
#include <cstddef>
#include <string>

// Settings carried inside a copy of the starter: the marker, the settings
// text in base64 (line breaks allowed) and a zero byte or the end of file.
namespace EmbeddedSettings {
// The marker bytes (42, no terminator counted). Defined once, so a copy of
// the starter without appended settings holds it once, followed by a zero.
extern const char kMarker[];
constexpr std::size_t kMarkerLength = 42;
// Decoded settings must leave room for the terminator of a settings buffer.
constexpr std::size_t kMaxSettingLength = 4095;

enum class Outcome { NoMarker, TooLong, Decoded };

// Decodes the block after the last marker in the file's bytes into sSetting
// (iCapacity bytes, terminated). Anything but Decoded leaves it empty.
Outcome Find(const char* pData, std::size_t iSize, char* sSetting, std::size_t iCapacity);

// The block to append to a copy of the starter: marker, base64 with a line
// break every 76 characters, zero byte.
std::string MakeBlock(const std::string& sSetting);
}  // namespace EmbeddedSettings
