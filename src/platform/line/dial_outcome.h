#pragma once

namespace line {

// How a dial ends at the far end, as a modem's final result code tells it:
// the call connects, or the line is busy, nobody answers, there is no dial
// tone or no carrier.
enum class Outcome { Connect, Busy, NoAnswer, NoDialTone, NoCarrier };

} // namespace line
