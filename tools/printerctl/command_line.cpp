#include "tools/printerctl/command_line.hpp"

#include "plans/certificate_file.hpp"
#include "plans/mqtt_plans.hpp"
#include "plans/safe_file.hpp"
#include "plans/screen_plans.hpp"
#include "protocol/basic_settings.hpp"
#include "protocol/certificate.hpp"
#include "protocol/number_text.hpp"
#include "tools/printerctl/open_files.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>

namespace printerctl {

namespace {

using plans::Plan;
using protocol::Bytes;

// Thrown inside the parser only; parseCommandLine turns it into a CommandLineError.
struct Refusal {
    std::string message;
};

[[noreturn]] void refuse(std::string message) {
    throw Refusal{std::move(message)};
}
[[noreturn]] void usage(const std::string& message) {
    refuse("printerctl: " + message + "\nTry 'printerctl --help'.");
}

// Text that goes into a command as it is must be UTF-8, as the window's fields always are.
std::string utf8(const std::string& value, const std::string& what) {
    if (!protocol::isValidUtf8(value)) {
        refuse("printerctl: " + what + " is not valid UTF-8 text");
    }
    return value;
}

// The words after a command, split into named options (--name VALUE or --name=VALUE) and
// positional words. Every option must be one the command knows, and takes exactly one value.
class Words {
public:
    Words(std::string command, std::vector<std::string> words, std::vector<std::string> known,
          std::vector<std::string> switches = {})
        : command_(std::move(command)) {
        for (std::size_t i = 0; i < words.size(); ++i) {
            const auto& word = words[i];
            if (!word.starts_with("--") || word == "--") {
                positional_.push_back(word);
                continue;
            }
            auto name = word.substr(2);
            std::optional<std::string> value;
            if (const auto eq = name.find('='); eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
            }
            if (std::find(switches.begin(), switches.end(), name) != switches.end()) {
                if (value) {
                    usage("option --" + name + " of '" + command_ + "' takes no value");
                }
                options_[name] = "";
                continue;
            }
            if (std::find(known.begin(), known.end(), name) == known.end()) {
                usage("unknown option --" + name + " for '" + command_ + "'");
            }
            if (!value) {
                if (i + 1 >= words.size()) {
                    usage("option --" + name + " needs a value");
                }
                value = words[++i];
            }
            options_[name] = *value;
            all_[name].push_back(*value);
        }
    }

    // Every value of an option that may be given more than once, in order.
    std::vector<std::string> values(const std::string& name) const {
        const auto it = all_.find(name);
        return it == all_.end() ? std::vector<std::string>{} : it->second;
    }

    std::optional<std::string> option(const std::string& name) const {
        const auto it = options_.find(name);
        return it == options_.end() ? std::nullopt : std::optional(it->second);
    }
    // A text option: it goes into a command as it is, so it must be UTF-8.
    std::string text(const std::string& name, std::string_view fallback) const {
        const auto value = option(name);
        return value ? utf8(*value, "--" + name) : std::string(fallback);
    }
    bool has(const std::string& name) const { return options_.count(name) != 0; }

    // Exactly `count` positional words, or a usage error naming what is expected.
    const std::vector<std::string>& positional(std::size_t count, const char* expected) const {
        if (positional_.size() != count) {
            usage("'" + command_ + "' expects " + expected);
        }
        return positional_;
    }
    const std::vector<std::string>& positional() const { return positional_; }

    // An option whose value must be one of `choices`; returns the index of the choice.
    template <std::size_t N>
    std::size_t choice(const std::string& name, const char* const (&choices)[N],
                       std::size_t fallback) const {
        const auto value = option(name);
        if (!value) {
            return fallback;
        }
        for (std::size_t k = 0; k < N; ++k) {
            if (*value == choices[k]) {
                return k;
            }
        }
        std::string list;
        for (std::size_t k = 0; k < N; ++k) {
            list += (k ? "|" : "") + std::string(choices[k]);
        }
        usage("--" + name + " must be " + list + ", not '" + *value + "'");
    }

private:
    std::string command_;
    std::map<std::string, std::string> options_;
    std::map<std::string, std::vector<std::string>> all_;
    std::vector<std::string> positional_;
};

// A whole number in [low, high] given as --name.
int boundedNumber(const Words& w, const std::string& name, int low, int high, int fallback) {
    const auto value = w.option(name);
    if (!value) {
        return fallback;
    }
    const auto parsed = protocol::parseUnsignedDecimal(*value, static_cast<unsigned>(high));
    if (!parsed || static_cast<long long>(*parsed) < low) {
        usage("--" + name + " must be a whole number " + std::to_string(low) + "..." +
              std::to_string(high) + ", not '" + *value + "'");
    }
    return static_cast<int>(*parsed);
}

ListRequest parseListTcp(const std::vector<std::string>& words) {
    const Words w("list tcp", words, {"subnet", "port", "timeout"},
                  {"no-mdns", "no-probe", "json"});
    w.positional(0, "no words after tcp but its options");
    ListRequest list;
    list.transport = Transport::tcp;
    auto& search = list.search;
    for (const auto& text : w.values("subnet")) {
        const auto subnet = discovery::parseSubnet(text);
        if (!subnet) {
            usage("--subnet must be an IPv4 network as A.B.C.D/N, not '" + text + "'");
        }
        if (subnet->prefixLength < kShortestSubnetPrefix) {
            usage("--subnet " + text + " is larger than /" + std::to_string(kShortestSubnetPrefix) +
                  "; probe it in parts of /" + std::to_string(kShortestSubnetPrefix) +
                  " or smaller");
        }
        search.subnets.push_back(*subnet);
    }
    search.probeOptions.port = static_cast<quint16>(boundedNumber(w, "port", 1, 65535, 9100));
    search.probeOptions.timeout =
        std::chrono::milliseconds(boundedNumber(w, "timeout", 10, 60000, 400));
    search.mdns = !w.has("no-mdns");
    search.probe = !w.has("no-probe");
    list.json = w.has("json");
    if (!search.mdns && !search.probe) {
        usage("--no-mdns and --no-probe together leave nothing to search with");
    }
    return list;
}

// Nothing is sent unless every step would send: the messages are the window's.
Plan checked(Plan plan) {
    std::string message;
    for (const auto& refusal : plans::refusals(plan)) {
        message += (message.empty() ? "" : "\n") + refusal;
    }
    if (!message.empty()) {
        refuse(message);
    }
    return plan;
}

plans::ImportedFile readFile(const std::string& path) {
    auto read = plans::readCertificateFile(QString::fromLocal8Bit(path.c_str()));
    if (const auto* problem = std::get_if<QString>(&read)) {
        refuse("Failed to import file: " + problem->toStdString());
    }
    return std::get<plans::ImportedFile>(std::move(read));
}

std::uint8_t codepageId(const std::string& text) {
    if (const auto* row = protocol::findLanguageByTitle(text)) {
        return row->id;
    }
    std::optional<std::uint64_t> id;
    if (text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X"))) {
        id = 0;
        for (char c : text.substr(2)) {
            const int digit = std::isxdigit(static_cast<unsigned char>(c))
                                  ? (std::isdigit(static_cast<unsigned char>(c))
                                         ? c - '0'
                                         : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10)
                                  : -1;
            if (digit < 0 || *id > 0xFF) {
                id.reset();
                break;
            }
            id = *id * 16 + static_cast<std::uint64_t>(digit);
        }
    } else if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
        id = protocol::parseUnsignedDecimal(text, 0xFFFF);
    }
    if (!id || *id > 0xFF ||
        protocol::findLanguageById(static_cast<std::uint8_t>(*id)) == nullptr) {
        usage("unknown codepage '" + text +
              "': give a table id (decimal or 0x-hex) or an exact title; 'printerctl --help' "
              "lists them");
    }
    return static_cast<std::uint8_t>(*id);
}

Plan basicCommand(const Words& w) {
    w.positional(0, "only options");
    int baud = 115200;
    if (const auto text = w.option("baud")) {
        const auto value = protocol::parseUnsignedDecimal(*text, 1'000'000);
        const auto& rates = protocol::kBaudRates;
        if (!value ||
            std::find(rates.begin(), rates.end(), static_cast<int>(*value)) == rates.end()) {
            usage("--baud must be one of 4800, 9600, 19200, 38400, 57600, 115200, 230400, 256000");
        }
        baud = static_cast<int>(*value);
    }
    static const char* const onOff[] = {"on", "off"};
    plans::BasicFields fields;
    fields.baudRate = baud;
    fields.cutterEnabled = w.choice("cutter", onOff, 0) == 0;
    fields.beeperEnabled = w.choice("beeper", onOff, 0) == 0;
    fields.density = static_cast<int>(w.choice("density", plans::kDensityNames, 1));
    fields.useFont12x24 = w.choice("font", plans::kFontNames, 0) == 0;
    fields.language =
        w.has("codepage") ? codepageId(*w.option("codepage")) : protocol::kDefaultLanguageId;
    return plans::basicPlan(fields);
}

Plan ipCommand(const Words& w) {
    const auto& p = w.positional();
    if (p.empty() || (p[0] != "ethernet" && p[0] != "wifi")) {
        usage("'ip' expects ethernet|wifi, then dhcp or static ADDRESS MASK GATEWAY");
    }
    const bool isWiFi = p[0] == "wifi";
    if (p.size() == 2 && p[1] == "dhcp") {
        return plans::ipPlan(isWiFi, {});
    }
    if (p.size() != 5 || p[1] != "static") {
        usage("'ip' expects ethernet|wifi, then dhcp or static ADDRESS MASK GATEWAY");
    }
    return checked(plans::ipPlan(isWiFi, {false, p[2], p[3], p[4]}));
}

Plan mqttCommand(const std::string& pane, std::vector<std::string> words) {
    if (pane == "broker") {
        const Words w("mqtt broker", std::move(words),
                      {"server", "port", "username", "password", "client-id"});
        w.positional(0, "only options");
        plans::BrokerFields fields;
        fields.server = w.text("server", "");
        fields.port = w.text("port", plans::kDefaultPort);
        fields.username = w.text("username", fields.username);
        fields.password = w.text("password", fields.password);
        fields.useDefaultClientID = !w.has("client-id");
        fields.clientId = w.text("client-id", "");
        return checked(plans::brokerPlan([fields] { return fields; }));
    }
    if (pane == "topics") {
        const Words w(
            "mqtt topics", std::move(words),
            {"subscribe-source", "publish-receipts", "qos", "heartbeat-topic", "reply-topic"});
        w.positional(0, "only options");
        static const char* const onOff[] = {"on", "off"};
        static const char* const qos[] = {"1", "2"};
        plans::TopicFields fields;
        fields.selectedSubTopicType = static_cast<std::uint8_t>(
            w.choice("subscribe-source", plans::kSubscribeSourceNames, 0));
        fields.publishReceiptInfo = w.choice("publish-receipts", onOff, 1) == 0;
        fields.pubQos = static_cast<std::uint8_t>(w.choice("qos", qos, 0) + 1);
        fields.heartbeatPubTopic = w.text("heartbeat-topic", fields.heartbeatPubTopic);
        fields.receiptReplyTopic = w.text("reply-topic", fields.receiptReplyTopic);
        return checked(plans::topicsPlan([fields] { return fields; }));
    }
    if (pane == "timing") {
        const Words w("mqtt timing", std::move(words),
                      {"heartbeat", "keepalive", "ntp-server", "timezone", "test-url"});
        w.positional(0, "only options");
        plans::TimingFields fields;
        fields.heartbeatInterval = w.text("heartbeat", fields.heartbeatInterval);
        fields.keepAliveInterval = w.text("keepalive", fields.keepAliveInterval);
        fields.ntpServer = w.text("ntp-server", fields.ntpServer);
        fields.dateZone = w.text("timezone", fields.dateZone);
        fields.testWebUrl = w.text("test-url", fields.testWebUrl);
        return checked(plans::timingPlan([fields] { return fields; }));
    }
    if (pane == "tls") {
        const Words w("mqtt tls", std::move(words), {"password"});
        const auto& p = w.positional();
        const std::string mode = p.empty() ? "" : p[0];
        if (mode == "off" && p.size() == 1 && !w.has("password")) {
            return plans::tlsOffPlan();
        }
        if (mode == "one-way" && p.size() == 2 && !w.has("password")) {
            const plans::ImportedFile file = readFile(p[1]);
            return checked(plans::oneWayTlsPlan(
                plans::oneWayCertificateFromFile(file.bytes, file.extension.toStdString())));
        }
        if (mode == "mutual" && p.size() == 4) {
            const Bytes ca = readFile(p[1]).bytes, client = readFile(p[2]).bytes,
                        key = readFile(p[3]).bytes;
            return checked(plans::mutualTlsPlan(ca, client, key, w.text("password", "")));
        }
        usage("'mqtt tls' expects off, one-way CERT-FILE, or mutual CA-FILE CLIENT-FILE KEY-FILE "
              "[--password TEXT]");
    }
    usage("'mqtt' expects broker, topics, timing or tls");
}

Plan planCommand(const std::string& command, const std::vector<std::string>& words) {
    if (command == "test") {
        Words("test", words, {}).positional(0, "no arguments");
        return plans::testPlan();
    }
    if (command == "basic") {
        return basicCommand(
            Words("basic", words, {"baud", "cutter", "beeper", "density", "font", "codepage"}));
    }
    if (command == "name") {
        const Words w("name", words, {});
        const auto& p = w.positional(1, "one TEXT");
        return checked(plans::printerNamePlan(utf8(p[0], "the name")));
    }
    if (command == "ip") {
        return ipCommand(Words("ip", words, {}));
    }
    if (command == "wifi") {
        const Words w("wifi", words, {});
        const auto& p = w.positional(2, "SSID PASSWORD");
        return checked(plans::wifiPlan(utf8(p[0], "the SSID"), utf8(p[1], "the password")));
    }
    if (command == "mqtt") {
        if (words.empty()) {
            usage("'mqtt' expects broker, topics, timing or tls");
        }
        return mqttCommand(words[0], std::vector<std::string>(words.begin() + 1, words.end()));
    }
    usage("unknown command '" + command + "'");
}

// One target per line; `#` starts a comment.
std::vector<std::string> targetsFromFile(const std::string& path) {
    // A pipe is read too: --targets <(command) lists the printers another tool found.
    auto read = files::readFileUpTo(QString::fromLocal8Bit(path.c_str()), plans::kProfileLimit,
                                    files::Accept::streamsToo);
    if (const auto* problem = std::get_if<QString>(&read)) {
        refuse("printerctl: --targets " + problem->toStdString());
    }
    // A list of a thousand printers is some tens of kilobytes.
    const auto& [text, overLimit] = std::get<files::FileBytes>(read);
    if (overLimit) {
        refuse("printerctl: --targets " + path + " is larger than 1 MiB");
    }
    std::vector<std::string> targets;
    for (QByteArray line : text.split('\n')) {
        if (const auto hash = line.indexOf('#'); hash >= 0) {
            line.truncate(hash);
        }
        if (line = line.trimmed(); !line.isEmpty()) {
            targets.push_back(line.toStdString());
        }
    }
    return targets;
}

Invocation applyCommand(const std::vector<std::string>& words, bool dryRun) {
    const Words w("apply", words, {"jobs", "targets", "timeout"}, {"dry-run", "json"});
    const auto& p = w.positional();
    if (p.empty()) {
        usage("'apply' expects PROFILE, then TARGET... or --targets FILE");
    }
    ApplyRequest request;
    request.dryRun = dryRun || w.has("dry-run");
    request.json = w.has("json");
    const int maximum = maximumJobs(openFileLimit());
    request.jobs = std::min(kDefaultJobs, maximum);
    if (const auto jobs = w.option("jobs")) {
        const auto value = protocol::parseUnsignedDecimal(*jobs, static_cast<unsigned>(maximum));
        if (!value || *value < 1) {
            usage("--jobs must be a whole number 1..." + std::to_string(maximum) +
                  " (one open file a printer, within this process's limit), not '" + *jobs + "'");
        }
        request.jobs = static_cast<int>(*value);
    }
    request.noProgressLimit = std::chrono::seconds(
        boundedNumber(w, "timeout", 1, 3600,
                      static_cast<int>(connection::Transport::kNoProgressLimit.count() / 1000)));
    auto loaded = plans::readProfileFile(QString::fromLocal8Bit(p[0].c_str()));
    if (const auto* problems = std::get_if<QStringList>(&loaded)) {
        refuse("printerctl: " + p[0] + ":\n  " +
               problems->join(QStringLiteral("\n  ")).toStdString());
    }
    auto& profile = std::get<plans::LoadedProfile>(loaded);
    request.plan = plans::profilePlan(profile.profile);
    request.warning = profile.warning;

    std::vector<std::string> texts(p.begin() + 1, p.end());
    if (const auto file = w.option("targets")) {
        const auto listed = targetsFromFile(*file);
        texts.insert(texts.end(), listed.begin(), listed.end());
    }
    if (texts.empty() && !request.dryRun) {
        usage("'apply' needs at least one TARGET (tcp:HOST[:PORT], serial:PATH, usb:PORT-ID, "
              "ble:ADDRESS) or --targets FILE");
    }
    std::map<QString, std::string> seen; // identity, as first written
    for (const auto& text : texts) {
        auto parsed = connection::parseTarget(text);
        if (const auto* error = std::get_if<QString>(&parsed)) {
            refuse("printerctl: " + error->toStdString());
        }
        auto& target = std::get<connection::Target>(parsed);
        // The same printer twice, however spelt, would get two profiles interleaved.
        const auto [first, added] = seen.try_emplace(target.identity(), text);
        if (!added) {
            refuse("printerctl: " + text +
                   (first->second == text ? " is listed twice"
                                          : " is the same printer as " + first->second));
        }
        request.targets.push_back(std::move(target));
    }
    return request;
}

Invocation parse(const std::vector<std::string>& arguments) {
    SendRequest send;
    std::size_t i = 0;
    for (; i < arguments.size() && arguments[i].starts_with("-"); ++i) {
        const auto& option = arguments[i];
        if (option == "--help" || option == "-h") {
            return HelpRequest{};
        }
        if (option == "--dry-run") {
            send.dryRun = true;
            continue;
        }
        static const std::map<std::string, Transport> transports = {{"--tcp", Transport::tcp},
                                                                    {"--serial", Transport::serial},
                                                                    {"--usb", Transport::usb},
                                                                    {"--ble", Transport::ble}};
        const auto it = transports.find(option);
        if (it == transports.end()) {
            usage("unknown option " + option);
        }
        if (send.transport != Transport::none) {
            usage("choose one transport");
        }
        if (i + 1 >= arguments.size()) {
            usage("option " + option + " needs a value");
        }
        send.transport = it->second;
        send.target = arguments[++i];
    }
    if (i >= arguments.size()) {
        usage("no command given");
    }
    const std::string& command = arguments[i];
    const std::vector<std::string> words(arguments.begin() + static_cast<long>(i) + 1,
                                         arguments.end());
    if (command == "decode") {
        const Words w("decode", words, {}, {"json", "show-secrets"});
        return DecodeRequest{w.has("json"), w.has("show-secrets"), w.positional()};
    }
    if (command == "apply" || command == "profile") {
        if (send.transport != Transport::none) {
            usage("'" + command + "' takes its printers as TARGET arguments, not --" +
                  (command == "apply" ? "tcp and the like" : "tcp"));
        }
        if (command == "apply") {
            return applyCommand(words, send.dryRun);
        }
        const Words w("profile", words, {});
        const auto& p = w.positional(2, "check PROFILE");
        if (p[0] != "check") {
            usage("'profile' expects check PROFILE");
        }
        return ProfileCheckRequest{p[1]};
    }
    if (command == "list") {
        if (send.dryRun || send.transport != Transport::none) {
            usage("'list' takes no transport and no --dry-run");
        }
        if (words.size() == 1 && words[0] == "usb") {
            return ListRequest{};
        }
        if (!words.empty() && words[0] == "tcp") {
            return parseListTcp(std::vector<std::string>(words.begin() + 1, words.end()));
        }
        if (words.empty() || words[0] != "ble") {
            usage("'list' expects usb, ble or tcp");
        }
        const Words w("list ble", std::vector<std::string>(words.begin() + 1, words.end()),
                      {"seconds"});
        w.positional(0, "no words after ble but --seconds N");
        ListRequest list;
        list.transport = Transport::ble;
        if (const auto seconds = w.option("seconds")) {
            const auto parsed = protocol::parseUnsignedDecimal(*seconds, 600);
            if (!parsed || *parsed < 1 || *parsed > 600) {
                usage("--seconds must be a whole number 1...600, not '" + *seconds + "'");
            }
            list.scanSeconds = static_cast<int>(*parsed);
        }
        return list;
    }
    send.plan = planCommand(command, words);
    return send;
}

} // namespace

Invocation parseCommandLine(const std::vector<std::string>& arguments) {
    try {
        return parse(arguments);
    } catch (const Refusal& refusal) {
        return CommandLineError{refusal.message};
    }
}

std::string usageText() {
    std::ostringstream text;
    text
        << R"(Usage: printerctl [--dry-run] [--tcp HOST[:PORT] | --serial PATH | --usb PORT-ID | --ble ADDRESS] COMMAND

Commands:
  test                                   communication test (12 54)
  basic [--baud N] [--cutter on|off] [--beeper on|off] [--density light|medium|dark]
        [--font 12x24|9x17] [--codepage ID]
                                         defaults: 115200 on on medium 12x24 255;
                                         ID: decimal, 0x-hex, or an exact title below
  name TEXT
  ip ethernet|wifi dhcp
  ip ethernet|wifi static ADDRESS MASK GATEWAY
  wifi SSID PASSWORD
  mqtt broker --server TEXT [--port TEXT] [--username TEXT] [--password TEXT] [--client-id TEXT]
                                         defaults: port 1883; no login (an empty user name
                                         and password); the printer's own client ID
  mqtt topics [--subscribe-source cpu-uuid|mac|imei] [--publish-receipts on|off] [--qos 1|2]
              [--heartbeat-topic TEXT] [--reply-topic TEXT]
                                         defaults: cpu-uuid off 1 HearBeat PrintSuccess
  mqtt timing [--heartbeat TEXT] [--keepalive TEXT] [--ntp-server TEXT] [--timezone TEXT]
              [--test-url TEXT]
                                         defaults: 30 30 pool.ntp.org 8 www.example.com;
                                         timezone: whole hours 0...14 east of UTC
  mqtt tls off
  mqtt tls one-way CERT-FILE
  mqtt tls mutual CA-FILE CLIENT-FILE KEY-FILE [--password TEXT]
                                         default: no password
  apply PROFILE [--dry-run] [--jobs N] [--timeout S] [--json] [--targets FILE] TARGET...
                                         a profile to printers: TCP and serial targets N at
                                         once (default 256, at most one per open file this
                                         process may have), USB and Bluetooth one at a time;
                                         a printer that takes no data for S seconds (15)
                                         fails;
                                         TARGET: tcp:HOST[:PORT], serial:PATH, usb:PORT-ID,
                                         ble:ADDRESS; FILE: one target per line (# comments)
  profile check PROFILE                  reads and checks a profile; sends nothing
  decode [--json] [--show-secrets] [HEX...]
                                         hex from the arguments, or standard input
  list usb                               USB printers, one per line: PORT-ID, name, kind,
                                         vendor:product, serial (tab-separated)
  list ble [--seconds N]                 Bluetooth LE printers found by an N-second scan
                                         (default 10): address, name, RSSI (tab-separated)
  list tcp [--subnet CIDR]... [--port N] [--timeout MS] [--no-mdns] [--no-probe] [--json]
                                         network printers, one per line as found:
                                         ADDRESS:PORT, name (escaped), source, and off-subnet
                                         when so (tab-separated). DNS-SD through Avahi, and a
                                         TCP probe of port N (9100) on the directly connected
                                         networks (/22 or smaller; no tunnels or container
                                         bridges) or on each --subnet (/16 or smaller); MS:
                                         the probe's time-out per address (400). Exit 1 when
                                         nothing could search or the probe failed here

--serial opens any terminal device as a USB serial line (115200 8N1, raw).
--dry-run prints each command as one line of hex and sends nothing.
Exit status: 0 done, 1 transport or send failure (apply: any target failed), 2 usage or
invalid input (nothing sent).

Codepages:
)";
    for (const auto& row : protocol::languageOptions()) {
        char id[8];
        std::snprintf(id, sizeof id, "0x%02X", row.id);
        text << "  " << id << "  " << row.title << "\n";
    }
    return text.str();
}

} // namespace printerctl
