#include "plans/certificate_file.hpp"

#include "plans/safe_file.hpp"

#include <QFileInfo>

namespace plans {

std::variant<ImportedFile, QString> readCertificateFile(const QString& path) {
    // A device (/dev/zero) would read without end, a pipe could wait for ever.
    auto read = files::readFileUpTo(path, kImportLimit, files::Accept::regularFiles);
    if (const auto* problem = std::get_if<QString>(&read)) {
        return *problem;
    }
    const QFileInfo info(path);
    const auto& file = std::get<files::FileBytes>(read);
    if (file.overLimit) {
        return QStringLiteral("%1 is larger than 1 MiB (%2 bytes); a certificate or key is a few "
                              "kilobytes")
            .arg(path)
            .arg(info.size());
    }
    return ImportedFile{protocol::Bytes(file.bytes.begin(), file.bytes.end()), info.fileName(),
                        info.suffix()};
}

} // namespace plans
