#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <variant>

// Files the user names, written so that a failure never costs the old file and read so that
// every failure says why. Nothing here knows what the files hold (Qt Core and POSIX only).
namespace files {

// Replaces the file at `path` with `bytes`, readable by its owner only: what the product saves
// may hold passwords. The bytes go to a new file in the same folder (created owner-only before
// its first byte), reach the disk, and only then take the old file's name, so `path` is always
// either the old file or the whole new one. A symbolic link is followed: the file it points to
// is replaced and the link stays. A folder, named pipe, device or socket at `path` is refused
// before anything is written. Returns why nothing was saved, naming the path and the cause.
std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes);

enum class Accept {
    regularFiles, // a pipe or device is refused (it could block, or never end)
    streamsToo,   // pipes and devices are read as well (`<(command)`, /dev/stdin)
};

struct FileBytes {
    QByteArray bytes; // at most the limit asked for
    bool overLimit = false;
};

// At most `limit` bytes of the file at `path`, and whether more followed. A folder (and, for
// `regularFiles`, anything but a regular file) is refused. The message names the path and the
// cause: "PATH is a folder", "PATH: Permission denied".
std::variant<FileBytes, QString> readFileUpTo(const QString& path, qint64 limit, Accept accept);

} // namespace files
