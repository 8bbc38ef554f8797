#pragma once

#include <QString>

namespace platform {

// Whether the program's standard input is a terminal a person types at.
bool inputIsTerminal();

// Shows `prompt` on the terminal and reads one line typed at it without
// echoing it (a password). False when there is no terminal or the reading
// fails or ends before a line. `faithful`, when given, tells whether the text
// holds the line's bytes exactly: false for a NUL, or for bytes that are not
// text in the system's encoding (the text could not give them back).
bool readHiddenLine(const QString &prompt, QString *line, bool *faithful = nullptr);

// One line of the standard input (a password given by a script), without its
// line ending. False when the input ends before any character.
bool readInputLine(QString *line, bool *faithful = nullptr);

} // namespace platform
