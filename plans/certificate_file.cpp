#include "plans/certificate_file.hpp"

#include <QFile>
#include <QFileInfo>

namespace plans {

std::variant<ImportedFile, QString> readCertificateFile(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // A directory would read as nothing, a device (/dev/zero) without end.
        return QStringLiteral("%1 is not a regular file").arg(info.fileName());
    }
    const QString tooLarge = QStringLiteral("the file is larger than 1 MiB");
    if (info.exists() && info.size() > kImportLimit) {
        return tooLarge + QStringLiteral(" (%1 bytes); a certificate or key is a few kilobytes")
                              .arg(info.size());
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return file.errorString();
    }
    // At most one byte past the limit: a file that grew since the check is still refused.
    const QByteArray data = file.read(kImportLimit + 1);
    if (data.size() > kImportLimit) {
        return tooLarge;
    }
    if (file.error() != QFileDevice::NoError) {
        return file.errorString();
    }
    return ImportedFile{protocol::Bytes(data.begin(), data.end()), info.fileName(), info.suffix()};
}

} // namespace plans
