#pragma once

#include <QString>
#include <QStringList>
#include <sys/types.h>

// Why a USB device node could not be used, and what the user can do about it. Linux answers
// "permission denied" and "busy" for several different reasons; each gets its own remedy.
namespace connection::access {

// What is known about the device node and the user, gathered by `factsFor`; tests build it by
// hand.
struct Facts {
    QString devicePath;
    QString deviceGroup;            // group owning the node ("dialout", "lp", "root"), may be empty
    bool sessionHasGroup = false;   // this process carries that group now
    bool accountHasGroup = false;   // /etc/group lists the user as a member of it
    bool udevRuleInstalled = false; // our rule file is installed
    QString userName;
};

Facts factsFor(const QString& devicePath);

// The shipped rule, and where an installed copy is looked for.
inline constexpr const char* kUdevRuleName = "70-printer-config.rules";
QStringList udevRuleLocations();

// Remedy for a serial line whose open failed with `error` (an errno value); empty when the
// error is not about access or another owner.
QString serialOpenAdvice(int error, const Facts& facts);

// Remedies for a printer-class interface.
QString usbPermissionAdvice(const Facts& facts);
// Held by a program of the user's (CUPS's usb backend, another print tool) through usbfs.
QString usbHeldByProgramAdvice();
// Held by a kernel driver that we could not detach (usblp, normally).
QString usbHeldByDriverAdvice(const QString& driverName);

} // namespace connection::access
