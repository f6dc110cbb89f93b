#include "connection/usb/cups_printers.hpp"

#include "connection/usb/usb_printer_bulk.hpp"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringDecoder>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace connection {

namespace {

const QString kDirectUsb = QStringLiteral("direct usb://");
constexpr qsizetype kErrorTextLimit = 300;
// How long a backend that was asked to stop may take before it is killed.
constexpr std::chrono::milliseconds kTerminateGrace{2'000};

// Every Unicode line separator, not only '\n': output that passed through other tools may use
// any of them.
bool isLineBreak(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

bool isBlank(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimBlanks(QStringView line) {
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && isBlank(line[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(line[end - 1])) {
        --end;
    }
    return line.sliced(begin, end - begin).toString();
}

std::vector<QStringView> nonEmptyLines(QStringView text) {
    std::vector<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isLineBreak(text[i])) {
            if (i > start) {
                lines.push_back(text.sliced(start, i - start));
            }
            start = i + 1;
        }
    }
    return lines;
}

QString serialOfUri(const QString& uri) {
    const QStringList queries = uri.split(u'?', Qt::SkipEmptyParts);
    const QString query = queries.isEmpty() ? uri : queries.last();
    for (const QString& parameter : query.split(u'&', Qt::SkipEmptyParts)) {
        if (parameter.startsWith(QLatin1String("serial="))) {
            return parameter.mid(7);
        }
    }
    return {};
}

// Replacement characters would hide a broken stream, so anything that does not decode cleanly
// (a truncated last sequence included) is refused.
std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

int waitMs(std::chrono::milliseconds limit) {
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, INT_MAX));
}

QString describeLimit(std::chrono::milliseconds limit) {
    if (limit.count() % 1000 == 0) {
        return QStringLiteral("%1 s").arg(limit.count() / 1000);
    }
    return QStringLiteral("%1 ms").arg(limit.count());
}

QString errnoText(int error) {
    return QString::fromStdString(std::generic_category().message(error));
}

QString loginName() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name) {
        return QString::fromLocal8Bit(found->pw_name);
    }
    return qEnvironmentVariable("USER");
}

// The file holds whatever is being configured, Wi-Fi passwords and private keys included, so it
// is created private (O_EXCL, 0600) rather than narrowed after the fact.
class PrivateTempFile {
public:
    // Qt gives an empty temporary path when TMPDIR names nothing that exists; the file must
    // then not end up in the root directory.
    explicit PrivateTempFile(const QString& directory)
        : path_(directory.isEmpty()
                    ? QString()
                    : directory + QStringLiteral("/kesta-usb-") +
                          QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                          QStringLiteral(".bin")) {}
    ~PrivateTempFile() {
        if (created_) {
            ::unlink(QFile::encodeName(path_).constData());
        }
    }
    PrivateTempFile(const PrivateTempFile&) = delete;
    PrivateTempFile& operator=(const PrivateTempFile&) = delete;

    const QString& path() const { return path_; }

    // Nothing on success, else the system's description of what went wrong.
    std::optional<QString> write(const protocol::Bytes& bytes) {
        if (path_.isEmpty()) {
            return errnoText(ENOENT);
        }
        const int fd = ::open(QFile::encodeName(path_).constData(),
                              O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0) {
            return errnoText(errno);
        }
        created_ = true;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                const int error = errno;
                ::close(fd);
                return errnoText(error);
            }
            done += static_cast<std::size_t>(n);
        }
        // A delayed write error (full disk on some file systems) only shows here.
        if (::close(fd) != 0 && errno != EINTR) {
            return errnoText(errno);
        }
        return std::nullopt;
    }

private:
    QString path_;
    bool created_ = false;
};

// The backend's own words, as far as they fit an alert.
QString backendFailure(QProcess& backend) {
    const QString said = strictUtf8(backend.readAllStandardError()).value_or(QString()).trimmed();
    if (!said.isEmpty()) {
        qsizetype length = std::min(said.size(), kErrorTextLimit);
        if (length < said.size() && said[length - 1].isHighSurrogate()) {
            --length;
        }
        return said.left(length);
    }
    if (backend.exitStatus() == QProcess::CrashExit) {
        // QProcess gives the signal number as the exit code; "code 11" would read like an
        // exit status the backend chose.
        return QStringLiteral("CUPS usb backend was stopped by signal %1").arg(backend.exitCode());
    }
    return QStringLiteral("code %1").arg(backend.exitCode());
}

void stopProgram(QProcess& backend, std::chrono::milliseconds grace) {
    // A backend in the middle of a job may want to tidy up, so it is asked first; a small limit
    // means the caller wants an answer soon, so the grace never exceeds it.
    backend.terminate();
    if (!backend.waitForFinished(waitMs(std::min(grace, kTerminateGrace)))) {
        backend.kill();
        backend.waitForFinished(-1);
    }
}

enum class Ended { finished, timedOut, stopped };

// Waits for the program in short slices, so that a stop request is noticed at once.
Ended waitFor(QProcess& program, std::chrono::milliseconds limit, const std::stop_token& stop) {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kSlice{100};
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (stop.stop_requested()) {
            return Ended::stopped;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (program.waitForFinished(
                waitMs(std::clamp(left, std::chrono::milliseconds{1}, kSlice))) ||
            program.state() == QProcess::NotRunning) {
            return Ended::finished;
        }
        if (Clock::now() >= deadline) {
            return Ended::timedOut;
        }
    }
}

// Why this user cannot run the backend, or nothing when it can. Debian installs it rwxr--r--
// root: CUPS runs it as root, so a direct run by anyone else fails at exec.
std::optional<QString> backendNotRunnable(const QString& path) {
    if (::access(QFile::encodeName(path).constData(), X_OK) == 0) {
        return std::nullopt;
    }
    if (errno == ENOENT) {
        return QStringLiteral("the CUPS usb backend (%1) is not installed").arg(path);
    }
    return QStringLiteral("the CUPS usb backend (%1) can only be run by root here; install the "
                          "udev rule (70-printer-config.rules) so that the direct USB route works")
        .arg(path);
}

} // namespace

std::vector<USBSerialPort> parseLpinfoOutput(const QString& output) {
    std::vector<USBSerialPort> printers;
    for (QStringView rawLine : nonEmptyLines(output)) {
        const QString line = trimBlanks(rawLine);
        if (!line.startsWith(kDirectUsb)) {
            continue;
        }
        USBSerialPort port;
        port.id = line.mid(7);
        port.kind = USBSerialPort::Kind::printerClass;
        port.serial = serialOfUri(port.id);
        const bool recognised = port.serial.contains(QLatin1String(model::kSerialFragment)) ||
                                port.id.toLower().contains(QLatin1String(model::kVendorHex));
        if (recognised) {
            port.name = QString::fromLatin1(model::kDisplayName);
            port.vendorId = model::kVendorId;
            port.productId = model::kProductId;
        } else {
            port.name = QStringLiteral("USB Printer");
        }
        printers.push_back(std::move(port));
    }
    return printers;
}

std::vector<USBSerialPort> listLpinfoPrinters(const CupsPrograms& programs, std::stop_token stop) {
    QProcess lpinfo;
    lpinfo.setProgram(programs.lpinfo);
    lpinfo.setArguments({QStringLiteral("-v")});
    lpinfo.setStandardErrorFile(QProcess::nullDevice());
    lpinfo.start(QIODevice::ReadOnly);
    if (!lpinfo.waitForStarted()) {
        return {};
    }
    // Without a reachable cupsd, lpinfo can hang; a late answer is no better than none.
    if (waitFor(lpinfo, programs.listingTimeLimit, stop) != Ended::finished) {
        lpinfo.kill();
        lpinfo.waitForFinished(-1);
        return {};
    }
    const auto text = strictUtf8(lpinfo.readAllStandardOutput());
    if (!text) {
        return {};
    }
    return parseLpinfoOutput(*text);
}

std::optional<QString> findCupsDeviceUri(const QString& serial, const CupsPrograms& programs,
                                         std::stop_token stop) {
    if (serial.isEmpty()) {
        return std::nullopt;
    }
    for (const USBSerialPort& printer : listLpinfoPrinters(programs, std::move(stop))) {
        if ((!printer.serial.isEmpty() && serial.contains(printer.serial)) ||
            printer.serial.contains(serial)) {
            return printer.id;
        }
    }
    return std::nullopt;
}

std::optional<QString> sendViaCupsBackend(const QString& deviceUri, const protocol::Bytes& bytes,
                                          const CupsPrograms& programs, std::stop_token stop) {
    if (auto refused = backendNotRunnable(programs.usbBackend)) {
        return refused;
    }
    PrivateTempFile file(QDir::tempPath());
    if (const auto error = file.write(bytes)) {
        return QStringLiteral("prepare failed: ") + *error;
    }

    QProcess backend;
    backend.setProgram(programs.usbBackend);
    backend.setArguments({QStringLiteral("1"), loginName(), QStringLiteral("KESTA"),
                          QStringLiteral("1"), QString(), file.path()});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DEVICE_URI"), deviceUri);
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    backend.setProcessEnvironment(environment);
    backend.setStandardOutputFile(QProcess::nullDevice());
    backend.start(QIODevice::ReadOnly);
    if (!backend.waitForStarted()) {
        return backend.errorString();
    }

    // The backend waits for an absent printer indefinitely, which would hold the I/O queue.
    const auto limit = programs.backendTimeLimit;
    switch (waitFor(backend, limit, stop)) {
    case Ended::finished:
        break;
    case Ended::stopped:
        stopProgram(backend, std::chrono::milliseconds{200});
        return QStringLiteral("CUPS usb backend stopped: the connection was closed");
    case Ended::timedOut:
        stopProgram(backend, limit);
        return QStringLiteral("CUPS usb backend gave no answer within %1; is the printer "
                              "switched on and connected?")
            .arg(describeLimit(limit));
    }
    if (backend.exitStatus() == QProcess::NormalExit && backend.exitCode() == 0) {
        return std::nullopt;
    }
    return backendFailure(backend);
}

SendResult sendToPrinterClass(const USBSerialPort& port, const protocol::Bytes& bytes,
                              const CupsPrograms& programs, const BulkLimits& limits,
                              const BulkWriter& bulkWriter) {
    PrinterMatch match;
    match.serial = port.serial.isEmpty() ? std::nullopt : std::optional<QString>(port.serial);
    match.vendorId = port.vendorId;
    match.productId = port.productId;
    if (port.id.startsWith(QLatin1String("bulk:"))) {
        match.locationId = locationOfDeviceId(port.id.mid(5));
    }
    const SendResult bulk = bulkWriter ? bulkWriter(bytes, match, limits)
                                       : USBPrinterBulk::sendData(bytes, match, limits);
    if (!bulk.error) {
        return bulk;
    }
    if (bulk.bytesSent > 0) {
        return {QStringLiteral("%1 (%2 of %3 bytes written; not sent again)")
                    .arg(*bulk.error)
                    .arg(bulk.bytesSent)
                    .arg(bytes.size()),
                bulk.bytesSent};
    }

    std::optional<QString> uri;
    if (port.id.startsWith(QLatin1String("usb://"))) {
        uri = port.id;
    } else {
        uri = findCupsDeviceUri(port.serial, programs, limits.stop);
        if (!uri) {
            return bulk;
        }
    }
    const auto backendError = sendViaCupsBackend(*uri, bytes, programs, limits.stop);
    if (!backendError) {
        return {std::nullopt, bytes.size()};
    }
    return {QStringLiteral("IOKit: ") + *bulk.error + QStringLiteral("\nCUPS: ") + *backendError,
            0};
}

} // namespace connection
