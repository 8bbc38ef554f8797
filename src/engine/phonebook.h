#pragma once

// The phonebook and the words for the service's errors.

#include "engine/dialer_view.h"

#include <QString>

// Cuts a fixed-length text at its first NUL; a text without any NUL gives the
// empty text.
QString TrimAtNul(QString text);

// Fills the list with the names of the default phonebook's entries, in the
// service's order, and selects the first.
void ListPhonebookEntries(EntryList &combo);

// The entry name of the first active connection, or the empty text when there
// is none or it is still opening its port or already disconnected.
QString ActiveEntryName();

// The words for LastRasError, as the status line shows them.
QString GetRasErrorText();
