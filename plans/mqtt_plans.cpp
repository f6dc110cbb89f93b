#include "plans/mqtt_plans.hpp"

#include "protocol/certificate.hpp"
#include "protocol/frame.hpp"
#include "protocol/limits.hpp"
#include "protocol/number_text.hpp"

namespace plans {
namespace {

using protocol::Bytes;

Step mqttStep(std::chrono::milliseconds at, std::function<StepResult()> build,
              bool confirms = false) {
    Step step;
    step.at = at;
    step.logPrefix = std::string(protocol::kMqttLogPrefix);
    step.logFirst = true;
    step.confirms = confirms;
    step.build = std::move(build);
    return step;
}

Step fixed(std::chrono::milliseconds at, StepResult result, bool confirms = false) {
    return mqttStep(
        at, [result = std::move(result)] { return result; }, confirms);
}

// The text's own refusal, else the frame `build` makes of it.
template <typename Build>
StepResult checkedText(std::string_view field, std::string_view text, std::size_t maxBytes,
                       Build build) {
    if (auto problem = protocol::checkText(field, text, maxBytes)) {
        return StepResult::refuse(std::move(*problem));
    }
    return StepResult::built(build());
}

StepResult heartbeat(std::string_view text) {
    const auto seconds = protocol::parseUInt32(text);
    if (!seconds) {
        return StepResult::refuse(std::string(kInvalidHeartbeat));
    }
    if (*seconds != 0 && (*seconds < 3 || *seconds > 7200)) {
        return StepResult::refuse(std::string(kHeartbeatOutOfRange));
    }
    return StepResult::send(protocol::makeHeartbeatIntervalCommand(*seconds));
}

StepResult keepAlive(std::string_view text) {
    const auto seconds = protocol::parseUInt32(text);
    if (!seconds || *seconds < 1 || *seconds > 7200) {
        return StepResult::refuse(std::string(kKeepAliveOutOfRange));
    }
    return StepResult::send(protocol::makeKeepAliveCommand(*seconds));
}

} // namespace

std::optional<std::string> checkTimezone(std::string_view zoneText) {
    if (zoneText.empty()) {
        return std::nullopt;
    }
    const auto hours = protocol::parseSignedDecimal(zoneText);
    if (!hours || *hours < 0 || *hours > 14) {
        return std::string(kTimezoneOutOfRange);
    }
    return std::nullopt;
}

std::uint8_t zoneByte(std::string_view zoneText) {
    const std::int64_t hours = protocol::parseSignedDecimal(zoneText).value_or(8);
    // Clamp before multiplying so that huge values cannot overflow.
    if (hours <= 0) {
        return 0;
    }
    if (hours >= 64) {
        return 255;
    }
    return static_cast<std::uint8_t>(hours * 4);
}

Plan brokerPlan(const Reader<BrokerFields>& read) {
    const BrokerFields atPress = read();
    Plan plan;
    const auto port = protocol::parseUInt16(atPress.port);
    if (!port || atPress.server.empty()) {
        plan.steps.push_back(fixed({}, StepResult::refuse(std::string(kInvalidServerOrPort))));
    } else {
        plan.steps.push_back(
            fixed({}, checkedText("Server", atPress.server, protocol::kBrokerServerMax, [&] {
                      return protocol::makeBrokerAddressCommand(atPress.server, *port);
                  })));
        std::optional<std::string> problem =
            protocol::checkText("Username", atPress.username, std::string_view::npos);
        if (!problem) {
            problem = protocol::checkText("Password", atPress.password, std::string_view::npos);
        }
        if (problem) {
            plan.steps.push_back(fixed({}, StepResult::refuse(std::move(*problem))));
        } else if (auto login = protocol::makeLoginCommand(atPress.username, atPress.password)) {
            plan.steps.push_back(fixed(kLoginDelay, StepResult::send(std::move(*login))));
        } else {
            plan.steps.push_back(fixed({}, StepResult::refuse(std::string(kLoginTooLong))));
        }
    }
    // The client ID leaves in every case; its restart notice replaces an earlier message.
    plan.steps.push_back(mqttStep(
        kClientIdDelay,
        [read] {
            const BrokerFields now = read();
            if (now.useDefaultClientID) {
                return StepResult::built(protocol::makeClientIdCommand(std::nullopt));
            }
            return checkedText("Client ID", now.clientId, protocol::kMqttTextMax,
                               [&] { return protocol::makeClientIdCommand(now.clientId); });
        },
        true));
    return plan;
}

Plan topicsPlan(Reader<TopicFields> read) {
    Plan plan;
    plan.steps = {
        mqttStep({},
                 [read] {
                     return StepResult::send(
                         protocol::makeSubscribeSourceCommand(read().selectedSubTopicType));
                 }),
        mqttStep(kTopicStep,
                 [read] {
                     return StepResult::send(
                         protocol::makeReceiptPublishCommand(read().publishReceiptInfo));
                 }),
        mqttStep(
            2 * kTopicStep,
            [read] { return StepResult::send(protocol::makePublishQoSCommand(read().pubQos)); }),
        mqttStep(3 * kTopicStep,
                 [read] {
                     const std::string topic = read().heartbeatPubTopic;
                     return checkedText("Heartbeat topic", topic, protocol::kMqttTextMax, [&] {
                         return protocol::makeTopicCommand(protocol::mqtt::heartbeatTopic, topic);
                     });
                 }),
        mqttStep(
            4 * kTopicStep,
            [read] {
                const std::string topic = read().receiptReplyTopic;
                return checkedText("Receipt reply topic", topic, protocol::kMqttTextMax, [&] {
                    return protocol::makeTopicCommand(protocol::mqtt::receiptReplyTopic, topic);
                });
            },
            true),
    };
    return plan;
}

Plan timingPlan(Reader<TimingFields> read) {
    Plan plan;
    plan.steps = {
        mqttStep({}, [read] { return heartbeat(read().heartbeatInterval); }),
        mqttStep(kTopicStep, [read] { return keepAlive(read().keepAliveInterval); }),
        mqttStep(2 * kTopicStep,
                 [read] {
                     const TimingFields now = read();
                     if (auto problem = checkTimezone(now.dateZone)) {
                         return StepResult::refuse(std::move(*problem));
                     }
                     return checkedText("NTP server", now.ntpServer, protocol::kNtpServerMax, [&] {
                         return protocol::makeClockCommand(now.ntpServer, zoneByte(now.dateZone));
                     });
                 }),
        mqttStep(
            3 * kTopicStep,
            [read] {
                const std::string url = read().testWebUrl;
                return checkedText("Test URL", url, protocol::kMqttTextMax,
                                   [&] { return protocol::makeDNSTestCommand(url); });
            },
            true),
    };
    return plan;
}

Plan tlsOffPlan() {
    return Plan{{fixed({}, StepResult::send(protocol::makeTLSOffCommand()), true)}};
}

Plan oneWayTlsPlan(std::string_view certificateText) {
    const auto trimmed = protocol::trimWhitespace(certificateText);
    if (trimmed.empty()) {
        return Plan{{fixed({}, StepResult::refuse(std::string(kMissingOneWayCertificate)))}};
    }
    // A certificate the frame cannot carry is refused rather than sent with a wrong length.
    if (auto tooLarge = protocol::checkOneWayCertificate(trimmed)) {
        return Plan{{fixed({}, StepResult::refuse(std::move(*tooLarge)))}};
    }
    return Plan{{fixed({}, StepResult::built(protocol::makeOneWayTLSCommand(trimmed)), true)}};
}

Plan mutualTlsPlan(const Bytes& caFile, const Bytes& clientFile, const Bytes& keyFile,
                   std::string_view password) {
    if (caFile.empty() || clientFile.empty() || keyFile.empty()) {
        return Plan{{fixed({}, StepResult::refuse(std::string(kMissingMutualFiles)))}};
    }
    if (auto tooLarge = protocol::checkMutualTLS(caFile, clientFile, keyFile, password)) {
        return Plan{{fixed({}, StepResult::refuse(std::move(*tooLarge)))}};
    }
    return Plan{{fixed(
        {},
        StepResult::built(protocol::makeMutualTLSCommand(caFile, clientFile, keyFile, password)),
        true)}};
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

std::string oneWayCertificateFromFile(const Bytes& file, std::string_view extension) {
    if (protocol::trimWhitespace(
            std::string_view(reinterpret_cast<const char*>(file.data()), file.size()))
            .empty()) {
        return {};
    }
    return protocol::normalizeCertificateFile(file, extension);
}

} // namespace plans
