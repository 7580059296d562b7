#pragma once
// The decoded status record as one JSON object (the fields are listed in the README),
// and what a status answer that was not decoded held.
#include <QJsonObject>
#include <string>

#include "status/DeviceStatus.h"
#include "status/StatusReport.h"

namespace tessaly::cli {

// `userText`: the block's 15 user-text bytes, Latin-1, 0x00-filled.
QJsonObject statusJson(const tZODADevice& d, const std::string& userText);
// The answer's length and, for a status answer, the SDI address, whether a device
// answered and its code.
QJsonObject answerJson(const QueryOutcome& o);

}  // namespace tessaly::cli
