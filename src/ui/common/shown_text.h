#pragma once

// What the windows show, written down as they show it: when VANTELO_TRACE
// names a file, each label's text is appended to it when it is painted with
// a text other than the one it last painted, and so is each new tray tip, one
// line each ("frmdial.status: Connecting..."). For a support request, and to
// follow the program from outside where nothing else can read its windows
// (its Windows build under wine). Without VANTELO_TRACE nothing is watched.

#include <QString>

class QApplication;

namespace shown_text {

// Starts watching the program's labels when VANTELO_TRACE is set.
void watch(QApplication &app);
// The tray tip TEXT, noted when it differs from the last one.
void noteTrayTip(const QString &text);

} // namespace shown_text
