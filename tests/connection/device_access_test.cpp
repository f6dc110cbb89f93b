// Which remedy a user is given when a USB device cannot be used.
#include "connection/usb/device_access.hpp"
#include "tests/support/pty.hpp"

#include <cerrno>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace connection::access;

namespace {

Facts facts(QString group, bool session, bool account, bool rule) {
    return {"/dev/ttyUSB0", std::move(group), session, account, rule, "ana"};
}

TEST(DeviceAccess, AdviceFitsTheCase) {
    struct Case {
        QString advice;
        std::vector<QString> mentions; // empty: no advice at all
        std::vector<QString> omits;
    };
    const Case cases[] = {
        {serialOpenAdvice(EACCES, facts("dialout", false, false, false)),
         {"ana", "/dev/ttyUSB0", "usermod -aG dialout ana", "log out", "70-printer-config.rules"},
         {"after this session"}},
        {serialOpenAdvice(EACCES, facts("dialout", false, true, false)),
         {"added to the dialout group after this session", "log out"},
         {"usermod"}},
        {serialOpenAdvice(EACCES, facts("dialout", false, false, true)),
         {"is installed", "unplug and replug"},
         {"usermod"}},
        {serialOpenAdvice(EACCES, facts("root", false, false, false)),
         {"70-printer-config.rules"},
         {"usermod", "group"}},
        {serialOpenAdvice(EBUSY, facts("dialout", true, true, false)),
         {"Another program has /dev/ttyUSB0 open"},
         {"group"}},
        {serialOpenAdvice(ENOENT, facts("", false, false, false)),
         {"/dev/ttyUSB0 is gone", "cable"},
         {}},
        {serialOpenAdvice(EIO, facts("dialout", true, true, false)), {}, {}},
        {usbPermissionAdvice(facts("root", false, false, false)),
         {"70-printer-config.rules"},
         {"group"}},
        {usbPermissionAdvice(facts("lp", false, true, false)), {"added to the lp group"}, {}},
        {usbHeldByDriverAdvice("usblp"), {"modprobe -r usblp"}, {}},
        {usbHeldByProgramAdvice(), {"CUPS"}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.advice.isEmpty(), c.mentions.empty()) << c.advice.toStdString();
        for (const QString& part : c.mentions) {
            EXPECT_TRUE(c.advice.contains(part))
                << c.advice.toStdString() << " lacks " << part.toStdString();
        }
        for (const QString& part : c.omits) {
            EXPECT_FALSE(c.advice.contains(part))
                << c.advice.toStdString() << " has " << part.toStdString();
        }
    }
}

TEST(DeviceAccess, FactsOfARealNode) {
    testing_support::Pty pty;
    const QString path = QString::fromStdString(pty.slavePath());
    // The group a new terminal gets depends on how /dev/pts is mounted; make it the user's own.
    ASSERT_EQ(chown(pty.slavePath().c_str(), static_cast<uid_t>(-1), getegid()), 0);
    const Facts found = factsFor(path);
    EXPECT_EQ(found.devicePath, path);
    ASSERT_NE(getgrgid(getegid()), nullptr);
    EXPECT_EQ(found.deviceGroup.toStdString(), getgrgid(getegid())->gr_name);
    EXPECT_TRUE(found.sessionHasGroup);
    EXPECT_TRUE(found.accountHasGroup); // it is the user's own primary group
    EXPECT_FALSE(found.userName.isEmpty());
    EXPECT_TRUE(factsFor("/dev/no-such-device").deviceGroup.isEmpty());
}

} // namespace
