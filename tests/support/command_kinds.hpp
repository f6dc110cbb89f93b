#pragma once

#include <string>
#include <vector>

namespace testing_support {

// One printerctl command of every kind the screens send (TLS with certificate files aside), as
// argument lists; end-to-end tests send them all and compare with the dry-run bytes.
inline const std::vector<std::vector<std::string>>& everyCommandKind() {
    static const std::vector<std::vector<std::string>> commands = {
        {"test"},
        {"basic", "--baud", "9600", "--codepage", "Korean"},
        {"name", "Front counter \xE6\x89\x93\xE5\x8D\xB0"},
        {"ip", "ethernet", "dhcp"},
        {"ip", "wifi", "static", "10.0.0.2", "255.0.0.0", "10.0.0.1"},
        {"wifi", "home", "secret"},
        {"mqtt", "broker", "--server", "192.168.1.87", "--username", "u", "--password", "p"},
        {"mqtt", "topics", "--qos", "2"},
        {"mqtt", "timing", "--heartbeat", "60"},
        {"mqtt", "tls", "off"},
    };
    return commands;
}

} // namespace testing_support
