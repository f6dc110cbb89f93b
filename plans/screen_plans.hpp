#pragma once

#include "plans/plan.hpp"

#include <cstdint>
#include <string>

// The plans of the communication test and of the Basic, Network and Wi-Fi screens: one step
// each, built from the values of the press.
namespace plans {

Plan testPlan();

struct BasicFields {
    int baudRate = 115200;
    bool cutterEnabled = true;
    bool beeperEnabled = true;
    int density = 1; // 0 light, 1 medium, 2 dark
    std::uint8_t language = 0xFF;
    bool useFont12x24 = true;
};
Plan basicPlan(const BasicFields& fields);

// The words printerctl's options and a profile's values use for the choices, by value.
inline constexpr const char* kDensityNames[] = {"light", "medium", "dark"};
inline constexpr const char* kFontNames[] = {"12x24", "9x17"}; // 0: useFont12x24

// Refused when the name does not fit its frame; sent without a console line.
Plan printerNamePlan(const std::string& name);

struct AddressFields {
    bool isDynamic = true;
    std::string ipAddress;
    std::string subnetMask;
    std::string gateway;
};
// A static address, mask and gateway must each be four dotted numbers 0...255.
Plan ipPlan(bool isWiFi, const AddressFields& fields);

// Refused when SSID and password together do not fit their frame.
Plan wifiPlan(const std::string& ssid, const std::string& password);

} // namespace plans
