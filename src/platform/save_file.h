#pragma once

// One way to replace a file whole, for every file the program keeps: the new
// content goes to a file of its own beside the old one, created afresh
// (exclusively, never through a link), which takes the old one's place only
// once it is complete, so a failed, short or interrupted write leaves the old
// file whole and nothing behind.

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace platform {

struct ReplaceRules
{
    // The new file's permissions, set before any byte is written; unset, it
    // takes those of the file it replaces, or a new file's default (the
    // system's, less the umask).
    std::optional<QFileDevice::Permissions> permissions;
    // Whether to wait until the new content is on disk before it takes the
    // old one's place; otherwise the system writes it back when it will.
    bool onDisk = true;
    // Whether a symbolic link at `path` is followed to the end of its chain
    // (the link stays and its target gets the content), as the user's own
    // files want. Otherwise whatever `path` is, a link included, is replaced
    // by the new file and never written through, as the files of a folder of
    // the program's own want.
    bool followLinks = true;
};

// Which file was written: the system's device and file numbers (zero where
// the system gives none), for a caller that keeps what it wrote.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
};

// Replaces the file at `path` with `bytes` under `rules`. A file that may not
// be written is left as it is, when links are followed. On failure `error`,
// when given, says why; on success `written`, when given, names the new file.
bool replaceFile(const QString &path, const QByteArray &bytes, const ReplaceRules &rules,
                 QString *error = nullptr, FileIdentity *written = nullptr);

} // namespace platform
