// SPDX-License-Identifier: MIT
// The texts of the status bar: the port with its line settings, the state
// of the connection and the bytes counted each way.
#pragma once

#include <QString>

#include <cstdint>

#include "Settings.h"

namespace vxterm {

enum class EState { Disconnected, Connected, Waiting };

// "8N1", "7E2", "5N1.5".
QString FrameText(const TLineSettings& line);
// "/dev/ttyUSB0 115200 8N1, no flow control".
QString LineText(const TLineSettings& line);
// "connected", "disconnected", "waiting for /dev/ttyUSB0".
QString StateText(EState state, const QString& port);
// "received 1,024 B, sent 17 B" in the user's number format.
QString CountsText(int64_t received, int64_t sent);

}  // namespace vxterm
