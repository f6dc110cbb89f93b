#include "plans/screen_plans.hpp"

#include "protocol/basic_settings.hpp"
#include "protocol/frame.hpp"
#include "protocol/limits.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"

namespace plans {
namespace {

// A plan of one step at the press: `problem` refuses it, else the frame `build` makes leaves.
Plan oneStep(std::string_view logPrefix, bool confirms, const std::optional<std::string>& problem,
             const std::function<std::optional<protocol::Bytes>()>& build) {
    StepResult result = problem ? StepResult::refuse(*problem) : StepResult::built(build());
    Step step;
    step.logPrefix = std::string(logPrefix);
    step.confirms = confirms;
    step.build = [result = std::move(result)] { return result; };
    return Plan{{std::move(step)}};
}

} // namespace

Plan testPlan() {
    Plan plan = oneStep({}, false, std::nullopt,
                        [] { return std::optional(protocol::testPrintCommand()); });
    plan.steps[0].reportSuccess = true;
    return plan;
}

Plan basicPlan(const BasicFields& f) {
    return oneStep(protocol::kBasicLogPrefix, false, std::nullopt, [&f] {
        return std::optional(protocol::makeBasicSettingsCommand(
            f.baudRate, f.cutterEnabled, f.beeperEnabled, f.density, f.language, f.useFont12x24));
    });
}

Plan printerNamePlan(const std::string& name) {
    return oneStep({}, false, protocol::checkPrinterName(name),
                   [&name] { return protocol::makePrinterNameCommand(name); });
}

Plan ipPlan(bool isWiFi, const AddressFields& f) {
    const auto problem = f.isDynamic
                             ? std::nullopt
                             : protocol::checkStaticAddresses(f.ipAddress, f.subnetMask, f.gateway);
    return oneStep(protocol::kIPLogPrefix, true, problem, [&] {
        return protocol::makeIPCommand(isWiFi, f.isDynamic, f.ipAddress, f.subnetMask, f.gateway);
    });
}

Plan wifiPlan(const std::string& ssid, const std::string& password) {
    return oneStep(protocol::kWiFiLogPrefix, true, protocol::checkWiFiCredentials(ssid, password),
                   [&] { return protocol::makeWiFiCommand(ssid, password); });
}

} // namespace plans
