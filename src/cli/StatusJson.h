#pragma once
// The decoded status record as one JSON object (the fields are listed in the README).
#include <QJsonObject>

#include "status/DeviceStatus.h"

namespace tessaly::cli {

QJsonObject statusJson(const tZODADevice& d);

}  // namespace tessaly::cli
