// SPDX-License-Identifier: MIT
// vxterm's stored terminal settings and the terminal control's own, one
// into the other.  Colours equal to the control's defaults are stored as
// none, so that the defaults of a later version apply.
#pragma once

#include "CPortTerm.h"
#include "Settings.h"

namespace vxterm {

cport::TComTermSettings ToControl(const TTerminalSettings& settings);
TTerminalSettings FromControl(const cport::TComTermSettings& settings);

cport::TTermEmulation ToControl(EEmulation emulation);

}  // namespace vxterm
