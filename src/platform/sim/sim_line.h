#pragma once

#include "platform/line/line.h"

#include <QString>

namespace simline::detail {

// The Device= value that puts an entry on the simulated line (trimmed, in any
// letter case), as the sample phonebook writes it; the line's modem goes by
// this name unless the entry names it otherwise.
inline const QString DefaultDeviceName = QStringLiteral("Vantelo Simulated Modem");

// The simulated line, one of the kinds of line of this system.
const line::Line &simulatedLine();

} // namespace simline::detail
