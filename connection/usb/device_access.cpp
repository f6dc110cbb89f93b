#include "connection/usb/device_access.hpp"

#include <QFileInfo>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace connection::access {
namespace {

QString currentUserName() {
    if (const passwd* entry = getpwuid(geteuid())) {
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return qEnvironmentVariable("USER");
}

bool processCarriesGroup(gid_t group) {
    if (getegid() == group) {
        return true;
    }
    const int count = getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int filled = getgroups(count, groups.data());
    for (int i = 0; i < filled; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) {
            return true;
        }
    }
    return false;
}

// Membership as the account database has it now, which is what the next login will carry.
bool accountListedInGroup(const group& entry, const QString& user) {
    if (const passwd* account = getpwnam(user.toLocal8Bit().constData())) {
        if (account->pw_gid == entry.gr_gid) {
            return true;
        }
    }
    for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (QString::fromLocal8Bit(*member) == user) {
            return true;
        }
    }
    return false;
}

const QString kRuleHint = QStringLiteral(
    "Or install the udev rule %1 shipped with printer-config (see the README), then unplug and "
    "replug the printer.");

QString ruleInstalledButNotApplied(const Facts& facts) {
    return QStringLiteral("The udev rule %1 is installed, but %2 was not given to you: unplug and "
                          "replug the printer (the rule applies when the device appears), and use "
                          "a session logged in at this computer's own screen.")
        .arg(QLatin1String(kUdevRuleName), facts.devicePath);
}

} // namespace

Facts factsFor(const QString& devicePath) {
    Facts facts;
    facts.devicePath = devicePath;
    facts.userName = currentUserName();
    for (const QString& location : udevRuleLocations()) {
        facts.udevRuleInstalled = facts.udevRuleInstalled || QFileInfo::exists(location);
    }
    struct stat info {};
    if (stat(devicePath.toLocal8Bit().constData(), &info) != 0) {
        return facts;
    }
    if (const group* entry = getgrgid(info.st_gid)) {
        facts.deviceGroup = QString::fromLocal8Bit(entry->gr_name);
        facts.accountHasGroup = accountListedInGroup(*entry, facts.userName);
    }
    facts.sessionHasGroup = processCarriesGroup(info.st_gid);
    return facts;
}

QStringList udevRuleLocations() {
    const QString name = QLatin1String(kUdevRuleName);
    return {QStringLiteral("/etc/udev/rules.d/") + name,
            QStringLiteral("/usr/lib/udev/rules.d/") + name,
            QStringLiteral("/lib/udev/rules.d/") + name};
}

QString serialOpenAdvice(int error, const Facts& facts) {
    switch (error) {
    case EACCES:
    case EPERM: {
        const bool namedGroup =
            !facts.deviceGroup.isEmpty() && facts.deviceGroup != QLatin1String("root");
        if (namedGroup && facts.accountHasGroup && !facts.sessionHasGroup) {
            return QStringLiteral(
                       "You were added to the %1 group after this session started: log out "
                       "and back in, then try again.")
                .arg(facts.deviceGroup);
        }
        if (facts.udevRuleInstalled) {
            return ruleInstalledButNotApplied(facts);
        }
        if (namedGroup) {
            return QStringLiteral(
                       "Your user %1 may not open %2. Add it to the %3 group (sudo usermod "
                       "-aG %3 %1), then log out and back in. ")
                       .arg(facts.userName, facts.devicePath, facts.deviceGroup) +
                   kRuleHint.arg(QLatin1String(kUdevRuleName));
        }
        return QStringLiteral(
                   "Your user may not open %1. Install the udev rule %2 shipped with "
                   "printer-config (see the README), then unplug and replug the printer.")
            .arg(facts.devicePath, QLatin1String(kUdevRuleName));
    }
    case EBUSY:
        return QStringLiteral(
                   "Another program has %1 open (a terminal program, ModemManager, brltty "
                   "or another printer-config). Close it and try again.")
            .arg(facts.devicePath);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("%1 is gone: check the cable, then refresh the list of ports.")
            .arg(facts.devicePath);
    default:
        return {};
    }
}

QString usbPermissionAdvice(const Facts& facts) {
    if (!facts.deviceGroup.isEmpty() && facts.deviceGroup != QLatin1String("root") &&
        facts.accountHasGroup && !facts.sessionHasGroup) {
        return QStringLiteral("You were added to the %1 group after this session started: log out "
                              "and back in, then try again.")
            .arg(facts.deviceGroup);
    }
    if (facts.udevRuleInstalled) {
        return ruleInstalledButNotApplied(facts);
    }
    return QStringLiteral(
               "Your user may not open the printer's USB device %1. Install the udev rule "
               "%2 shipped with printer-config (see the README), then unplug and replug "
               "the printer.")
        .arg(facts.devicePath, QLatin1String(kUdevRuleName));
}

QString usbHeldByProgramAdvice() {
    return QStringLiteral("Another program holds the printer's USB interface, usually the CUPS usb "
                          "backend printing a job. Let the job finish or cancel it (cancel -a), "
                          "then try again.");
}

QString usbHeldByDriverAdvice(const QString& driverName) {
    return QStringLiteral("The kernel driver %1 holds the printer's USB interface and could not be "
                          "detached. Unload it (sudo modprobe -r %1) or run as a user allowed to "
                          "detach it, then try again.")
        .arg(driverName);
}

} // namespace connection::access
