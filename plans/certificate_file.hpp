#pragma once

#include "protocol/bytes.hpp"

#include <QString>
#include <variant>

// Reading a certificate or key file the user chose, the same way for the window's file chooser
// and for printerctl's arguments.
namespace plans {

// Larger files are refused without being read whole: a certificate or key is a few kilobytes.
inline constexpr qint64 kImportLimit = qint64{1} << 20;

struct ImportedFile {
    protocol::Bytes bytes;
    QString name;      // last path component
    QString extension; // after the last dot, without it
};

// The file's bytes, or why it cannot be used, naming the path (not a regular file, larger than
// 1 MiB, unreadable); the caller puts "Failed to import file: " in front.
std::variant<ImportedFile, QString> readCertificateFile(const QString& path);

} // namespace plans
