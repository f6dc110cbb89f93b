// Which remedy a user is given when a USB device cannot be used.
#include "connection/usb/device_access.hpp"
#include "tests/support/pty.hpp"

#include <cerrno>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace connection::access;

namespace {

// A session without the device's group; the account may be in it by now.
Facts facts(QString group, bool accountHasGroup = false, bool ruleInstalled = false) {
    return {"/dev/ttyUSB0", std::move(group), false, accountHasGroup, ruleInstalled, "ana"};
}

TEST(DeviceAccess, AdviceFitsTheCase) {
    // The advice and what it mentions ("!": what it must not); no parts: no advice at all.
    const std::vector<std::pair<QString, std::vector<QString>>> cases = {
        {serialOpenAdvice(EACCES, facts("dialout")),
         {"ana", "/dev/ttyUSB0", "usermod -aG dialout ana", "log out", "70-printer-config.rules",
          "!after this session"}},
        {serialOpenAdvice(EACCES, facts("dialout", true)),
         {"added to the dialout group after this session", "log out", "!usermod"}},
        {serialOpenAdvice(EACCES, facts("dialout", false, true)),
         {"is installed", "unplug and replug", "!usermod"}},
        {serialOpenAdvice(EACCES, facts("root")),
         {"70-printer-config.rules", "!usermod", "!group"}},
        {serialOpenAdvice(EBUSY, facts("dialout")), {"Another program has /dev/ttyUSB0 open"}},
        {serialOpenAdvice(ENOENT, facts("")), {"/dev/ttyUSB0 is gone", "cable"}},
        {serialOpenAdvice(EIO, facts("dialout")), {}},
        {usbPermissionAdvice(facts("root")), {"70-printer-config.rules", "!group"}},
        {usbPermissionAdvice(facts("lp", true)), {"added to the lp group"}},
        {usbPermissionAdvice(facts("lp", false, true)), {"is installed"}},
        {usbHeldByDriverAdvice("usblp"), {"modprobe -r usblp"}},
    };
    for (const auto& [advice, parts] : cases) {
        EXPECT_EQ(advice.isEmpty(), parts.empty()) << advice.toStdString();
        for (const QString& part : parts) {
            const bool wanted = !part.startsWith('!');
            EXPECT_EQ(advice.contains(wanted ? part : part.mid(1)), wanted)
                << advice.toStdString() << " / " << part.toStdString();
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
