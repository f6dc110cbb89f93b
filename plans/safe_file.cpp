#include "plans/safe_file.hpp"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace files {
namespace {

QString failure(const QString& path, int error) {
    return QStringLiteral("%1: %2").arg(path, qt_error_string(error));
}

QString notARegularFile(const QString& path, mode_t mode) {
    if (S_ISDIR(mode)) {
        return QStringLiteral("%1 is a folder").arg(path);
    }
    const char* kind = S_ISFIFO(mode)                   ? "a named pipe, "
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device, "
                       : S_ISSOCK(mode)                 ? "a socket, "
                                                        : "";
    return QStringLiteral("%1 is %2not a regular file").arg(path, QLatin1String(kind));
}

bool readable(mode_t mode, Accept accept) {
    if (S_ISREG(mode)) {
        return true;
    }
    return accept == Accept::streamsToo && (S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode));
}

// Closes on every way out of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closed here so that a late write error (reported by close on some file systems) is seen.
    bool close() {
        const int result = ::close(std::exchange(fd_, -1));
        // After EINTR the descriptor is already gone on Linux; what was written is in the file.
        return result == 0 || errno == EINTR;
    }

private:
    int fd_;
};

bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t written =
            ::write(fd, data, static_cast<std::size_t>(std::min<qint64>(size, 1 << 30)));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO; // no progress and no reason: never loop on it
            }
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool sync(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace

std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes) {
    QByteArray target = QFile::encodeName(path);
    if (target.isEmpty()) {
        return QStringLiteral("no file name given");
    }
    struct stat info {};
    if (::lstat(target.constData(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            char* resolved = ::realpath(target.constData(), nullptr);
            if (resolved == nullptr) {
                return QStringLiteral("%1 is a symbolic link that leads to no file (%2); nothing "
                                      "was written")
                    .arg(path, qt_error_string(errno));
            }
            target = resolved;
            std::free(resolved);
            if (::stat(target.constData(), &info) != 0) {
                return failure(path, errno);
            }
        }
        // Renamed over, a pipe or device would become a plain file and its reader would wait on.
        if (!S_ISREG(info.st_mode)) {
            return notARegularFile(path, info.st_mode) + QStringLiteral("; nothing was written");
        }
    } else if (errno != ENOENT) {
        return failure(path, errno);
    }

    // In the same folder, so that the rename is atomic; hidden, so that a crash leaves no
    // look-alike of the file next to it.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder =
        slash < 0 ? QByteArray(".") : target.left(std::max<qsizetype>(slash, 1));
    QByteArray temporary = target.left(slash + 1) + '.' + target.mid(slash + 1) + ".XXXXXX";
    // mkostemp: O_CREAT | O_EXCL, mode 0600 from the start.
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        return failure(path, errno);
    }
    const auto abandon = [&](int error) {
        ::unlink(temporary.constData());
        return failure(path, error);
    };
    // 0600 whatever the umask: the file may hold passwords.
    if (::fchmod(file.get(), S_IRUSR | S_IWUSR) != 0 ||
        !writeAll(file.get(), bytes.constData(), bytes.size()) || !sync(file.get()) ||
        !file.close()) {
        return abandon(errno);
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        return abandon(errno);
    }
    // The new name must reach the disk as well, or a power cut could bring back the old file.
    Descriptor directory(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // EINVAL: a file system that cannot sync a folder; there is nothing more to do then.
    if (directory.get() < 0 || (!sync(directory.get()) && errno != EINVAL)) {
        return QStringLiteral(
                   "%1 was replaced, but its folder could not be flushed to the disk: %2")
            .arg(path, qt_error_string(errno));
    }
    return std::nullopt;
}

std::variant<FileBytes, QString> readFileUpTo(const QString& path, qint64 limit, Accept accept) {
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty()) {
        return QStringLiteral("no file name given");
    }
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        return failure(path, errno);
    }
    if (!readable(info.st_mode, accept)) {
        return notARegularFile(path, info.st_mode);
    }
    // Non-blocking when only regular files are wanted: a pipe put in the file's place since the
    // check cannot hold the open.
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NOCTTY | (accept == Accept::regularFiles ? O_NONBLOCK : 0);
    Descriptor file(::open(name.constData(), flags));
    if (file.get() < 0) {
        return failure(path, errno);
    }
    if (::fstat(file.get(), &info) != 0) {
        return failure(path, errno);
    }
    if (!readable(info.st_mode, accept)) {
        return notARegularFile(path, info.st_mode);
    }
    // One byte past the limit tells that more follows, whatever the file's size says.
    QByteArray data;
    char buffer[64 * 1024];
    while (data.size() <= limit) {
        const auto want = std::min<qint64>(sizeof buffer, limit + 1 - data.size());
        const ssize_t got = ::read(file.get(), buffer, static_cast<std::size_t>(want));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return failure(path, errno);
        }
        if (got == 0) {
            break;
        }
        data.append(buffer, got);
    }
    FileBytes result;
    result.overLimit = data.size() > limit;
    data.truncate(std::min<qint64>(data.size(), limit));
    result.bytes = std::move(data);
    return result;
}

} // namespace files
