#pragma once

// Reading a user's file whole, safely: the settings file, the phonebook and the
// call log are the user's to replace with anything, so a read never blocks (a
// named pipe), never reads without end (a device such as /dev/zero) and never
// takes in more than a sane size. Only a regular file is read; a link the user
// made is followed to its target.

#include <QByteArray>
#include <QString>

namespace platform {

inline constexpr qint64 SettingsReadLimit = qint64{1} << 20;   // 1 MiB
inline constexpr qint64 PhonebookReadLimit = qint64{16} << 20; // 16 MiB
inline constexpr qint64 CallLogReadLimit = qint64{1} << 20;    // 1 MiB

struct BoundedRead
{
    enum class Status {
        Read,       // data holds the whole file
        Missing,    // no file there (nor the folder that would hold it)
        NotRegular, // a folder, a named pipe, a device...: not read at all
        TooLarge,   // larger than the limit: not read at all
        Failed,     // there but could not be read (no permission, an I/O error)
    };
    Status status = Status::Missing;
    QByteArray data;
    QString reason; // why it was not read, in words: the system's, or ours

    bool read() const { return status == Status::Read; }
};

// The whole file at path, if it is a regular file of at most maxBytes bytes.
BoundedRead readBounded(const QString &path, qint64 maxBytes);

// What a look at a file tells of its content without reading it: a file
// rewritten in place or replaced by another shows a new size, new times or
// another identity. A link is followed to its target. Taken in one system
// call, with the times as the file system keeps them (no time zone involved).
struct FileStamp
{
    bool file = false; // a regular file is there
    qint64 size = -1;
    qint64 device = 0;
    qint64 identity = 0; // the file's number on its device (its creation time on Windows)
    qint64 modifiedNs = 0;
    qint64 changedNs = 0; // status change (last write on Windows)

    bool operator==(const FileStamp &) const = default;
};

FileStamp fileStamp(const QString &path);

// Overwrites the file at path from its start with bytes, in one write, if it
// is still the file that stamp describes and holds exactly expected, which is
// as long as bytes; after then describes it as written. Otherwise, or when it
// cannot be opened for writing, the file is left as it is and false returned.
// One open of the file for the look, the comparison and the write.
bool rewriteSameLength(const QString &path, const FileStamp &stamp, const QByteArray &expected,
                       const QByteArray &bytes, FileStamp *after);

} // namespace platform
