#pragma once
#include <cstddef>

// Settings carried inside this copy of the starter (appended by qvembed).
namespace SelfSettings {

// Reads the starter's own file and decodes its embedded settings into
// sSetting (iSettingSize bytes, terminated). Leaves sSetting empty when there
// are none, they do not fit, or they carry no role; each case is logged.
// *pDecodedLength gets the decoded length, 0 when none.
void Read(char* sSetting, std::size_t iSettingSize, int* pDecodedLength);

}  // namespace SelfSettings
