#pragma once

#include "platform/line/line.h"

namespace simline::detail {

// The simulated line, one of the kinds of line of this system.
const line::Line &simulatedLine();

} // namespace simline::detail
