#pragma once
#include <cstddef>

class SetupHandler;

// Where start-up takes its settings from: the launch link on the command
// line, else the block embedded in the executable; if either leaves nothing,
// the configuration file beside the starter.
namespace SettingSource {
// Settings appended to this executable, into sSetting (emptied when there
// are none or they are not valid).
void ReadEmbeddedSettings(char* sSetting, std::size_t iSettingSize);

// Fills sSetting from the sources in order. False when no source applies and
// the starter is to register its launch protocol instead.
bool Obtain(SetupHandler& oHandler, char* sSetting, std::size_t iSettingSize);

// Hands the settings to the handler and starts its worker thread at normal
// priority.
bool StartSetup(SetupHandler& oHandler, const char* sSetting);
}  // namespace SettingSource
