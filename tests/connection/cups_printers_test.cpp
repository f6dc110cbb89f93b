// The CUPS route against stand-in lpinfo and backend scripts written into a private directory.
#include "connection/usb/cups_printers.hpp"
#include "tests/support/wait_limit.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <numeric>
#include <pwd.h>
#include <thread>
#include <unistd.h>

using namespace connection;
using namespace std::chrono_literals;

namespace {

USBSerialPort printer(const QString& uri, const QString& serial, bool recognised = false) {
    if (recognised) {
        return {uri,   "QW-T50 USB Printer", USBSerialPort::Kind::printerClass, 0x0FE6, 0x811E,
                serial};
    }
    return {uri, "USB Printer", USBSerialPort::Kind::printerClass, 0, 0, serial};
}

// A private directory for stand-ins and what they record; TMPDIR points into it so that the
// backend's temporary files land where the test can look for leftovers.
struct Sandbox {
    QTemporaryDir dir_;
    QByteArray oldTmp_ = qgetenv("TMPDIR");

    Sandbox() {
        QDir(dir_.path()).mkdir("tmp");
        qputenv("TMPDIR", path("tmp").toLocal8Bit());
    }
    ~Sandbox() { qputenv("TMPDIR", oldTmp_); }

    QString path(const QString& name) const { return dir_.filePath(name); }

    QString write(const QString& name, const QByteArray& content) const {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        return file.fileName();
    }
    QString script(const QString& name, const QString& body) const {
        const QString file = write(name, ("#!/bin/sh\ncd '" + dir_.path() + "'\n" + body).toUtf8());
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return file;
    }

    QByteArray read(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // What the backend left in the temporary directory, and whether the program whose pid a
    // stand-in recorded still runs.
    QStringList leftovers() const { return QDir(path("tmp")).entryList(QDir::Files); }
    bool recordedProcessGone() const {
        bool ok = false;
        const pid_t pid = read("pid").trimmed().toInt(&ok);
        return ok && ::kill(pid, 0) == -1 && errno == ESRCH;
    }
};

// lpinfo's USB lines, read from a stand-in that prints what the real one might. A printer is
// recognised by the serial fragment or the vendor in its URI; the query's serial parameter may
// come anywhere; output that does not decode, or a program that hangs or is missing, lists
// nothing; the exit status is not looked at.
TEST(CupsLpinfo, ListsTheUsbPrintersItReports) {
    struct Case {
        QByteArray output;
        std::vector<USBSerialPort> expected;
        QString body = "[ \"$*\" = -v ] && cat output"; // empty: no such program
    };
    const std::vector<Case> cases = {
        {"direct usb://Maker/T50?serial=333039313838&interface=1\n",
         {printer("usb://Maker/T50?serial=333039313838&interface=1", "333039313838", true)}},
        {"direct usb://0fe6/Model?serial=AB12\n",
         {printer("usb://0fe6/Model?serial=AB12", "AB12", true)}},
        {"network socket\ndirect ipp://host/printers/a\nnetwork usb://x?serial=1\n", {}},
        {"direct usb://Other/Box\n", {printer("usb://Other/Box", "")}},
        {"direct usb://Other/Box??&&interface=2&&serial=9Z\n",
         {printer("usb://Other/Box??&&interface=2&&serial=9Z", "9Z")}},
        {"\r\n  \t direct usb://B?serial=2 \t\r\n\r\n\tdirect usb://A\r\nfile cups-pdf:/\r\n",
         {printer("usb://B?serial=2", "2"), printer("usb://A", "")}},
        {"direct usb://A\n", {printer("usb://A", "")}, "cat output; echo oops >&2; exit 1"},
        {"direct usb://A\ndirect usb://B?serial=\377\n", {}},
        {"direct usb://A?serial=\303", {}}, // a truncated sequence
        {"direct usb://A\n", {}, "cat output; exec sleep 30"},
        {"direct usb://A\n", {}, ""},
    };
    for (const auto& c : cases) {
        Sandbox box;
        box.write("output", c.output);
        CupsPrograms programs;
        programs.lpinfo = c.body.isEmpty() ? box.path("absent") : box.script("lpinfo", c.body);
        // Only a program that never ends meets the short limit, however slow the machine.
        programs.listingTimeLimit = c.body.contains("sleep") ? 300ms : 60s;
        EXPECT_EQ(listLpinfoPrinters(programs), c.expected) << c.output.toStdString();
    }
}

// The programs run on the manager's I/O thread; a manager going away asks them to stop from the
// main thread. lpinfo has printed a printer by then, which it would list if it were waited for.
TEST(CupsPrograms, AStopRequestEndsAProgramThatHangsAtOnce) {
    for (const bool backend : {false, true}) {
        Sandbox box;
        CupsPrograms programs;
        (backend ? programs.usbBackend : programs.lpinfo) =
            box.script("program", "echo 'direct usb://A'; echo $$ > pid; exec sleep 30");
        std::stop_source stop;
        std::optional<QString> result;
        std::thread worker([&] {
            if (backend) {
                result = sendViaCupsBackend("usb://A", {0x0A}, programs, stop.get_token());
            } else if (listLpinfoPrinters(programs, stop.get_token()).empty()) {
                result = "nothing listed";
            }
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return box.read("pid").endsWith('\n'); },
                                    testing_support::kWaitMs));
        stop.request_stop();
        worker.join();
        EXPECT_EQ(result, QString(backend ? "CUPS usb backend stopped: the connection was closed"
                                          : "nothing listed"));
        EXPECT_TRUE(box.recordedProcessGone()) << backend;
        EXPECT_EQ(box.leftovers(), QStringList()) << backend;
    }
}

TEST(CupsBackend, RunsOnAPrivateCopyThatIsRemovedAfterwards) {
    Sandbox box;
    CupsPrograms programs;
    programs.usbBackend = box.script("usb", "printf '%s\\n' \"$#\" \"$@\" > args\n"
                                            "printf '%s\\n' \"$DEVICE_URI\" \"$LANG\" > env\n"
                                            "stat -c %a \"$6\" > mode; cp \"$6\" copy");
    protocol::Bytes payload(64 * 1024 + 3);
    std::iota(payload.begin(), payload.end(), std::uint8_t{0});
    const QByteArray oldLang = qgetenv("LANG");
    qputenv("LANG", "de_DE.UTF-8");
    EXPECT_EQ(sendViaCupsBackend("usb://X/Y?serial=1&a=b", payload, programs), std::nullopt);
    qputenv("LANG", oldLang);

    const QStringList args = QString::fromUtf8(box.read("args")).split('\n');
    ASSERT_EQ(args.size(), 8) << box.read("args").toStdString();
    const passwd* user = getpwuid(geteuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(args.mid(0, 6), QStringList({"6", "1", user->pw_name, "KESTA", "1", ""}));
    EXPECT_TRUE(QRegularExpression("^kesta-usb-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.bin$")
                    .match(QFileInfo(args[6]).fileName())
                    .hasMatch())
        << args[6].toStdString();
    EXPECT_EQ(QFileInfo(args[6]).absolutePath(), box.path("tmp"));
    EXPECT_EQ(box.read("env"), "usb://X/Y?serial=1&a=b\nC\n");
    EXPECT_EQ(box.read("mode"), "600\n");
    EXPECT_EQ(box.read("copy"),
              QByteArray(reinterpret_cast<const char*>(payload.data()), qsizetype(payload.size())));
    EXPECT_EQ(box.leftovers(), QStringList());
}

// Every way a backend run fails ends in one short text. A backend this user may not run (Debian
// installs it rwxr--r-- root, for CUPS to run as root) is not started, and the text says what
// works instead.
TEST(CupsBackend, FailuresBecomeOneShortText) {
    const QString longText(400, 'e');
    const QString emoji = QString::fromUtf8("\xF0\x9F\x96\xA8");
    const QString noAnswer = "CUPS usb backend gave no answer within %1; is the printer switched "
                             "on and connected?";
    enum class Run { normal, notExecutable, absent, noTemporaryDirectory };
    struct Case {
        QString body;
        QString expected; // $BACKEND: the backend's path
        Run run = Run::normal;
        // Only a backend that never ends meets a short limit, however slow the machine.
        std::chrono::milliseconds limit = 60s;
    };
    const std::vector<Case> cases = {
        {"exit 1", "code 1"},
        {"printf ' \\t\\nPaper out\\n\\n' >&2; exit 4", "Paper out"},
        {"printf 'bad \\377' >&2; exit 2", "code 2"},
        {"printf '" + longText + "' >&2; exit 1", longText.left(300)},
        // No half character at the cut.
        {"printf '" + longText.left(299) + emoji + "' >&2; exit 1", longText.left(299)},
        {"kill -KILL $$", "CUPS usb backend was stopped by signal 9"},
        // A backend is asked to stop before it is killed, so it can release the printer.
        {"trap 'kill $!; touch asked; exit 1' TERM; echo $$ > pid; sleep 30 & wait",
         noAnswer.arg("1 s"), Run::normal, 1s},
        {"trap '' TERM; echo $$ > pid; exec sleep 30", noAnswer.arg("300 ms"), Run::normal, 300ms},
        {"touch ran",
         "the CUPS usb backend ($BACKEND) can only be run by root here; install the udev rule "
         "(70-printer-config.rules) so that the direct USB route works",
         Run::notExecutable},
        {"touch ran", "the CUPS usb backend ($BACKEND) is not installed", Run::absent},
        {"touch ran", "prepare failed: No such file or directory", Run::noTemporaryDirectory},
    };
    for (const auto& c : cases) {
        Sandbox box;
        CupsPrograms programs;
        programs.usbBackend = box.script("usb", c.body);
        programs.backendTimeLimit = c.limit;
        if (c.run == Run::notExecutable) {
            QFile::setPermissions(programs.usbBackend, QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ReadGroup | QFile::ReadOther);
        } else if (c.run == Run::absent) {
            programs.usbBackend = box.path("absent");
        } else if (c.run == Run::noTemporaryDirectory) {
            qputenv("TMPDIR", box.path("gone").toLocal8Bit());
        }
        const auto result = sendViaCupsBackend("usb://A", {0x1B, 0x40}, programs);
        const std::string label = c.expected.left(40).toStdString();
        EXPECT_EQ(result, QString(c.expected).replace("$BACKEND", programs.usbBackend)) << label;
        if (c.body.contains("> pid")) {
            EXPECT_TRUE(box.recordedProcessGone()) << label;
        }
        EXPECT_EQ(QFile::exists(box.path("asked")), c.body.contains("touch asked")) << label;
        EXPECT_FALSE(QFile::exists(box.path("ran"))) << label;
        EXPECT_EQ(box.leftovers(), QStringList()) << label;
    }
}

// The bulk writer first, the backend only when nothing reached the printer. For a "bulk:" port
// lpinfo gives the backend's URI, found by serial: the port's inside the listed one or the
// other way round, never a printer listed without one.
TEST(CupsPrinterClass, BulkFirstThenBackendOnlyWhenNothingReachedThePrinter) {
    const USBSerialPort listed = printer("usb://X/Y?serial=333039313838", "333039313838", true);
    const auto bulkPort = [](const QString& serial) {
        return USBSerialPort{
            "bulk:1234", "USB Printer (ACME)", USBSerialPort::Kind::printerClass, 0x1234, 0x00AB,
            serial};
    };
    const SendResult delivered{std::nullopt, 3}, noEndpoint{"No USB bulk OUT endpoint"};
    const QByteArray uri = listed.id.toUtf8(), never = "<missing>";
    struct Case {
        USBSerialPort port;
        SendResult bulk, expected;
        QByteArray backendUri; // "<missing>": the backend never ran
        QString backendBody = "exit 0";
    };
    const std::vector<Case> cases = {
        {listed, delivered, delivered, never},
        {listed, {"USB printer not found (unplugged?)"}, delivered, uri},
        {listed,
         {"USB write failed (0xe00002ed)"},
         {"IOKit: USB write failed (0xe00002ed)\nCUPS: jammed"},
         uri,
         "echo jammed >&2; exit 1"},
        {bulkPort("3039313838"), noEndpoint, delivered, uri},
        {bulkPort("x333039313838y"), noEndpoint, delivered, uri},
        {bulkPort("7777"), noEndpoint, noEndpoint, never},
        {bulkPort(""), noEndpoint, noEndpoint, never},
        // A second copy after a partial one would reach the printer inside the first's frame.
        {bulkPort("3039313838"),
         {"USB write failed (0xfffffff9)", 2},
         {"USB write failed (0xfffffff9) (2 of 3 bytes written; not sent again)", 2},
         never},
    };
    const protocol::Bytes bytes{0x1F, 0x28, 0x0F};
    for (const auto& c : cases) {
        const auto label = &c - cases.data();
        Sandbox box;
        CupsPrograms programs;
        programs.lpinfo =
            box.script("lpinfo", "printf 'direct usb://Blank\ndirect " + listed.id + "\n'");
        programs.usbBackend =
            box.script("usb", "printf %s \"$DEVICE_URI\" > uri\n" + c.backendBody);
        int calls = 0;
        const BulkWriter bulk = [&](const protocol::Bytes& sent, const PrinterMatch& match,
                                    const BulkLimits&) {
            ++calls;
            EXPECT_EQ(sent, bytes);
            EXPECT_EQ(match.serial.value_or("(none)"),
                      c.port.serial.isEmpty() ? "(none)" : c.port.serial);
            EXPECT_EQ(match.vendorId, c.port.vendorId);
            EXPECT_EQ(match.productId, c.port.productId);
            // The chosen printer's place on the bus goes along with a "bulk:" id.
            EXPECT_EQ(match.locationId, c.port.id.startsWith("bulk:")
                                            ? std::optional<std::uint32_t>(1234)
                                            : std::nullopt);
            return c.bulk;
        };
        EXPECT_EQ(sendToPrinterClass(c.port, bytes, programs, {}, bulk), c.expected) << label;
        EXPECT_EQ(calls, 1) << label;
        EXPECT_EQ(box.read("uri"), c.backendUri) << label;
    }
}

} // namespace
