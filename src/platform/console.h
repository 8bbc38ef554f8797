#pragma once

#include <QString>

namespace platform {

// Whether the program's standard input is a terminal a person types at.
bool inputIsTerminal();

// Shows `prompt` on the terminal and reads one line typed at it without
// echoing it (a password). False when there is no terminal or the reading
// fails or ends before a line.
bool readHiddenLine(const QString &prompt, QString *line);

// One line of the standard input (a password given by a script), without its
// line ending. False when the input ends before any character.
bool readInputLine(QString *line);

} // namespace platform
