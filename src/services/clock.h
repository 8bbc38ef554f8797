#pragma once

// The one place the program takes the date and time from; tests fix it.

#include <QDateTime>
#include <QString>

QDateTime CurrentDateTime();
// The current date in the system's short date format.
QString CurrentDateText();
// The current time of day in the system's time format.
QString CurrentTimeText();

// Tests: from now on the clock reads this (an invalid value gives the real clock back).
void SetFixedDateTime(const QDateTime &dateTime);
