#pragma once
// The link settings as the settings file holds them, read through the key table, for
// a front end without the Main page's controls (tessaly-cli).
#include "link/LinkSettings.h"
#include "settings/IniFile.h"

namespace tessaly {

// Framing, SDI address, IP base and extension and both ports, each from its key (or
// the key's default). Read as the controls take them: a radio index past the last
// item selects the last, below 0 selects nothing (SDI address 0); the extension is
// held to 0..255.
LinkSettings readLinkSettings(const IniFile& ini);

}  // namespace tessaly
