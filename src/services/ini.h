#pragma once

// The settings file: test.ini in the program's folder.

#include <QString>

// Every section and key the program reads or writes.
namespace Settings {
inline const QString FileBase = QStringLiteral("test");
inline const QString Info = QStringLiteral("INFO");
inline const QString Login = QStringLiteral("Login1");
inline const QString Number = QStringLiteral("Numero1");
inline const QString Password = QStringLiteral("Password1");
inline const QString AutoConnect = QStringLiteral("AutoConnect");
inline const QString Connection = QStringLiteral("CONNECTION");
inline const QString DialingType = QStringLiteral("TypeNumerotation");
inline const QString General = QStringLiteral("GENERAL");
inline const QString RedialPeriod = QStringLiteral("Test");
inline const QString SoundFile = QStringLiteral("jouerFichierWav");
} // namespace Settings

// The full path of the settings file of that base name.
QString IniPath(const QString &baseName);

// The value, cut to 254 characters; "" when the file, section or key is missing,
// and when the file is there but cannot be read (that is told once as a
// storage notice).
QString ReadIniValue(const QString &baseName, const QString &section, const QString &key);
// Creates or replaces the value. A file or folder that cannot take it is told
// once as a storage notice; the caller goes on.
void WriteIniValue(const QString &baseName, const QString &section, const QString &key,
                   const QString &value);
