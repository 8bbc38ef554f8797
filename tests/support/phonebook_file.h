#pragma once

#include "platform/simline.h"
#include "testenv.h"

#include <QString>
#include <QStringList>

// Writes the simulated line's phonebook: one section per entry, with the lines
// given for it (e.g. "SimStageMs=5"). An entry given no Device= line is put on
// the simulated line with the Device= the sample phonebook writes.
struct PhonebookEntry
{
    QString name;
    QStringList lines;
};

inline bool writePhonebook(const QList<PhonebookEntry> &entries)
{
    QByteArray text;
    for (const PhonebookEntry &entry : entries) {
        text += '[' + entry.name.toUtf8() + "]\r\n";
        bool device = false;
        for (const QString &line : entry.lines) {
            text += line.toUtf8() + "\r\n";
            device = device || line.startsWith(QStringLiteral("Device="));
        }
        if (!device)
            text += "Device=Vantelo Simulated Modem\r\n";
        text += "\r\n";
    }
    return writeBytes(simline::phonebookPath(), text);
}

// A quick entry: answers after a few milliseconds a stage, account demo/demo.
inline PhonebookEntry quickEntry(const QString &name, const QStringList &more = {})
{
    QStringList lines{QStringLiteral("PhoneNumber=0860"), QStringLiteral("SimUser=demo"),
                      QStringLiteral("SimPassword=demo"), QStringLiteral("SimSpeed=28800"),
                      QStringLiteral("SimStageMs=5"),     QStringLiteral("SimHangUpMs=5")};
    // A key given in `more` replaces the default one.
    for (const QString &line : more) {
        const QString key = line.section(u'=', 0, 0) + u'=';
        lines.removeIf([&](const QString &l) { return l.startsWith(key); });
        lines.append(line);
    }
    return {name, lines};
}
