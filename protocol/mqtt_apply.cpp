#include "protocol/mqtt_apply.hpp"

#include "protocol/certificate.hpp"
#include "protocol/limits.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/number_text.hpp"

namespace protocol::mqtt {

std::uint8_t zoneByte(std::string_view zoneText) {
    const std::int64_t hours = parseSignedDecimal(zoneText).value_or(8);
    // Clamp before multiplying so that huge values cannot overflow.
    if (hours <= 0) {
        return 0;
    }
    if (hours >= 64) {
        return 255;
    }
    return static_cast<std::uint8_t>(hours * 4);
}

Step heartbeatStep(std::string_view heartbeatText) {
    const auto seconds = parseUInt32(heartbeatText);
    if (!seconds) {
        return {std::nullopt, std::string(kInvalidHeartbeat)};
    }
    if (*seconds != 0 && (*seconds < 3 || *seconds > 7200)) {
        return {std::nullopt, std::string(kHeartbeatOutOfRange)};
    }
    return {makeHeartbeatIntervalCommand(*seconds), {}};
}

Step keepAliveStep(std::string_view keepAliveText) {
    const auto seconds = parseUInt32(keepAliveText);
    if (!seconds || *seconds < 1 || *seconds > 7200) {
        return {std::nullopt, std::string(kKeepAliveOutOfRange)};
    }
    return {makeKeepAliveCommand(*seconds), {}};
}

Bytes clientIdCommand(const BrokerFields& fields) {
    return fields.useDefaultClientID ? makeClientIdCommand(std::nullopt)
                                     : makeClientIdCommand(fields.clientId);
}

ApplyPlan planBroker(const BrokerFields& fields) {
    ApplyPlan plan;
    const auto port = parseUInt16(fields.port);
    if (!port || fields.server.empty()) {
        plan.errors.emplace_back(kInvalidServerOrPort);
    } else {
        plan.commands.push_back({0, makeBrokerAddressCommand(fields.server, *port), false});
        if (auto login = makeLoginCommand(fields.username, fields.password)) {
            plan.commands.push_back({kLoginDelayMs, std::move(*login), false});
        } else {
            plan.errors.emplace_back(kLoginTooLong);
        }
    }
    // The client ID leaves in every case, and its restart notice replaces an earlier error.
    plan.commands.push_back({kClientIdDelayMs, clientIdCommand(fields), true});
    return plan;
}

ApplyPlan planTopics(const TopicFields& fields) {
    ApplyPlan plan;
    plan.commands = {
        {0, makeSubscribeSourceCommand(fields.selectedSubTopicType), false},
        {kTopicStepMs, makeReceiptPublishCommand(fields.publishReceiptInfo), false},
        {2 * kTopicStepMs, makePublishQoSCommand(fields.pubQos), false},
        {3 * kTopicStepMs, makeTopicCommand(heartbeatTopic, fields.heartbeatPubTopic), false},
        {4 * kTopicStepMs, makeTopicCommand(receiptReplyTopic, fields.receiptReplyTopic), true},
    };
    return plan;
}

ApplyPlan planTiming(const TimingFields& fields) {
    ApplyPlan plan;
    int delay = 0;
    for (Step step :
         {heartbeatStep(fields.heartbeatInterval), keepAliveStep(fields.keepAliveInterval)}) {
        if (step.command) {
            plan.commands.push_back({delay, std::move(*step.command), false});
        } else {
            plan.errors.push_back(std::move(step.error));
        }
        delay += kTopicStepMs;
    }
    plan.commands.push_back(
        {delay, makeClockCommand(fields.ntpServer, zoneByte(fields.dateZone)), false});
    plan.commands.push_back({delay + kTopicStepMs, makeDNSTestCommand(fields.testWebUrl), true});
    return plan;
}

ApplyPlan planTlsOff() {
    return {{{0, makeTLSOffCommand(), true}}, {}};
}

ApplyPlan planOneWayTls(std::string_view certificateText) {
    const auto trimmed = trimWhitespace(certificateText);
    if (trimmed.empty()) {
        return {{}, {std::string(kMissingOneWayCertificate)}};
    }
    if (auto tooLarge = checkOneWayCertificate(trimmed)) {
        return {{}, {std::move(*tooLarge)}};
    }
    return {{{0, makeOneWayTLSCommand(trimmed), true}}, {}};
}

ApplyPlan planMutualTls(const Bytes& caFile, const Bytes& clientFile, const Bytes& keyFile,
                        std::string_view password) {
    if (caFile.empty() || clientFile.empty() || keyFile.empty()) {
        return {{}, {std::string(kMissingMutualFiles)}};
    }
    if (auto tooLarge = checkMutualTLS(caFile, clientFile, keyFile, password)) {
        return {{}, {std::move(*tooLarge)}};
    }
    return {{{0, makeMutualTLSCommand(caFile, clientFile, keyFile, password), true}}, {}};
}

std::string adjustedPortForTlsMode(int tlsMode, std::string_view port) {
    if (tlsMode == 0 && port == kTlsPort) {
        return std::string(kDefaultPort);
    }
    if ((tlsMode == 1 || tlsMode == 2) && (port == kDefaultPort || port.empty())) {
        return std::string(kTlsPort);
    }
    return std::string(port);
}

} // namespace protocol::mqtt
