// The file writer: the old file or the whole new one, never less, whatever fails on the way; the
// reader: every refusal names the path and its cause.
#include "plans/safe_file.hpp"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace files;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}

// Hidden files left in the folder: a temporary the writer did not remove.
QStringList leftovers(const QString& folder) {
    return QDir(folder).entryList(QStringList{".*"}, QDir::Hidden | QDir::Files);
}

TEST(SafeFile, ReplacesARegularFileWholeAndOwnerOnlyAndRefusesAnythingElse) {
    const QByteArray fresh(40'000, 'n'); // larger than Qt's 16 KiB write buffer
    const struct {
        const char* what;
        std::function<void(const QString& dir, const QString& path)> make;
        const char* refusal; // %1: the path; empty: written
        mode_t kindAfter;
    } cases[] = {
        {"nothing there", [](auto&, auto&) {}, "", S_IFREG},
        {"an old file others may read",
         [](auto&, const QString& path) {
             put(path, "old");
             ::chmod(QFile::encodeName(path).constData(), 0644);
         },
         "", S_IFREG},
        {"a link to a file (kept, its file replaced)",
         [](const QString& dir, const QString& path) {
             put(dir + "/real.json", "old");
             QFile::link(dir + "/real.json", path);
         },
         "", S_IFLNK},
        {"a folder", [](auto&, const QString& path) { QDir().mkdir(path); },
         "%1 is a folder; nothing was written", S_IFDIR},
        {"a named pipe",
         [](auto&, const QString& path) { ::mkfifo(QFile::encodeName(path).constData(), 0600); },
         "%1 is a named pipe, not a regular file; nothing was written", S_IFIFO},
        {"a link to nothing",
         [](const QString& dir, const QString& path) { QFile::link(dir + "/gone", path); },
         "%1 is a symbolic link that leads to no file (No such file or directory); nothing was "
         "written",
         S_IFLNK},
        {"a folder that is not there", [](const QString& dir, auto&) { QDir(dir).rmdir(dir); },
         "%1: No such file or directory", 0},
    };
    for (const auto& c : cases) {
        QTemporaryDir top;
        const QString dir = top.filePath("d"), path = dir + "/shop.json";
        QDir().mkdir(dir);
        c.make(dir, path);
        const auto error = writeFileAtomically(path, fresh);
        const mode_t mode = modeOf(path);
        EXPECT_EQ(mode & S_IFMT, c.kindAfter) << c.what;
        EXPECT_TRUE(leftovers(dir).isEmpty()) << c.what;
        if (*c.refusal != '\0') {
            EXPECT_EQ(error.value_or("written"), QString::fromUtf8(c.refusal).arg(path)) << c.what;
            continue;
        }
        ASSERT_EQ(error, std::nullopt) << c.what << ": " << error->toStdString();
        EXPECT_EQ(contents(path), fresh) << c.what;
        EXPECT_EQ(modeOf(QFile::symLinkTarget(path).isEmpty() ? path : QFile::symLinkTarget(path)) &
                      0777,
                  0600u)
            << c.what;
    }
}

// A disk that fills up under the writer, for real, in a child process: the file size limit
// (SIGXFSZ ignored, so write fails with EFBIG), or a 64 KiB tmpfs in a user and mount namespace
// of the child's own (ENOSPC). The child saves over a small old file and reports the message and
// what the file holds afterwards. Below 16 KiB QSaveFile reported such a save done.
TEST(SafeFile, AFullDiskKeepsTheOldFileByteForByteAndSaysWhy) {
    const QByteArray old = "{\"format\": \"printer-config profile\", \"version\": 1}\n";
    const struct {
        const char* what;
        std::function<std::string(const QString& dir)> limit; // why it cannot be done, or ""
        const char* cause;
        qsizetype size;
    } cases[] = {
        {"file size limit",
         [](const QString&) {
             std::signal(SIGXFSZ, SIG_IGN);
             const rlimit limit{4096, 4096};
             return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? "" : std::strerror(errno);
         },
         "File too large", 8192},
        {"full tmpfs",
         [](const QString& dir) -> std::string {
             const uid_t uid = ::getuid();
             const gid_t gid = ::getgid();
             if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
                 // EINVAL: the process has threads (ThreadSanitizer starts one in the child).
                 return std::string("no user namespace: ") + std::strerror(errno);
             }
             const auto write = [](const char* file, const std::string& text) {
                 QFile f(file);
                 return f.open(QIODevice::WriteOnly) && f.write(text.c_str()) > 0;
             };
             if (!write("/proc/self/setgroups", "deny") ||
                 !write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                 !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
                 ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=64k") !=
                     0) {
                 return std::string("no tmpfs of our own: ") + std::strerror(errno);
             }
             return "";
         },
         "No space left on device", 1 << 20},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath("shop.json");
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(report[0]);
            std::string out = c.limit(dir.path());
            if (out.empty()) {
                put(path, old);
                const auto error = writeFileAtomically(path, QByteArray(c.size, 'x'));
                out = "|" + error.value_or("saved").toStdString() + "|" +
                      contents(path).toStdString() + "|" +
                      leftovers(dir.path()).join(' ').toStdString();
            }
            (void)!::write(report[1], out.data(), out.size());
            ::_exit(0);
        }
        ::close(report[1]);
        std::string out;
        char buffer[4096];
        for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;) {
            out.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(report[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.what;
        if (!out.starts_with('|')) {
            GTEST_SKIP() << c.what << ": " << out;
        }
        EXPECT_EQ(out, "|" + path.toStdString() + ": " + c.cause + "|" + old.toStdString() + "|")
            << c.what;
    }
}

TEST(SafeFile, ReadsUpToTheLimitAndNamesWhatItRefuses) {
    QTemporaryDir dir;
    put(dir.filePath("ten"), "0123456789");
    ::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600);
    // A pipe with its writer gone, as `--targets <(command)` hands it over.
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    (void)!::write(pipe[1], "tcp:a\n", 6);
    ::close(pipe[1]);
    const QString fromPipe = QStringLiteral("/dev/fd/%1").arg(pipe[0]);
    const struct {
        QString path;
        qint64 limit;
        Accept accept;
        std::variant<FileBytes, QString> expected;
    } cases[] = {
        {dir.filePath("ten"), 10, Accept::regularFiles, FileBytes{"0123456789", false}},
        {dir.filePath("ten"), 9, Accept::regularFiles, FileBytes{"012345678", true}},
        {"/dev/zero", 3, Accept::streamsToo, FileBytes{QByteArray(3, '\0'), true}},
        {fromPipe, 100, Accept::streamsToo, FileBytes{"tcp:a\n", false}},
        {"/dev/zero", 3, Accept::regularFiles, "/dev/zero is a device, not a regular file"},
        // Refused without waiting for a writer.
        {dir.filePath("pipe"), 3, Accept::regularFiles,
         dir.filePath("pipe") + " is a named pipe, not a regular file"},
        {dir.path(), 3, Accept::streamsToo, dir.path() + " is a folder"},
        {dir.filePath("none"), 3, Accept::streamsToo,
         dir.filePath("none") + ": No such file or directory"},
        {dir.filePath("ten/x"), 3, Accept::regularFiles,
         dir.filePath("ten/x") + ": Not a directory"},
    };
    for (const auto& c : cases) {
        const auto got = readFileUpTo(c.path, c.limit, c.accept);
        if (const auto* bytes = std::get_if<FileBytes>(&c.expected)) {
            ASSERT_TRUE(std::holds_alternative<FileBytes>(got))
                << std::get<QString>(got).toStdString();
            EXPECT_EQ(std::get<FileBytes>(got).bytes, bytes->bytes) << c.path.toStdString();
            EXPECT_EQ(std::get<FileBytes>(got).overLimit, bytes->overLimit) << c.path.toStdString();
        } else {
            EXPECT_EQ(std::get_if<QString>(&got) ? std::get<QString>(got) : "read",
                      std::get<QString>(c.expected));
        }
    }
    ::close(pipe[0]);
}

} // namespace
