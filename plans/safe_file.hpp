#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Files the user names, written so that a failure never costs the old file. Nothing here knows
// what the files hold (Qt Core and POSIX only).
namespace files {

// Replaces the file at `path` with `bytes`, readable by its owner only: what the product saves
// may hold passwords. The bytes go to a new file in the same folder (created owner-only before
// its first byte), reach the disk, and only then take the old file's name, so `path` is always
// either the old file or the whole new one. A symbolic link is followed: the file it points to
// is replaced and the link stays. A folder, named pipe, device or socket at `path` is refused
// before anything is written. Returns why nothing was saved, naming the path and the cause.
std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace files
