#include "plans/profile.hpp"

#include "plans/field_text.hpp"
#include "plans/json_duplicates.hpp"
#include "plans/safe_file.hpp"
#include "protocol/basic_settings.hpp"
#include "protocol/certificate.hpp"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace plans {
namespace {

constexpr const char* kTlsModes[] = {"off", "one-way", "mutual"};

std::string join(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

// Reads one JSON object's keys, collecting every problem with the key's path instead of stopping
// at the first: a technician fixes a profile in one go.
class JsonReader {
public:
    explicit JsonReader(QStringList& problems) : problems_(problems) {}

    void problem(const std::string& path, const std::string& message) {
        problems_.append(QString::fromStdString(path + ": " + message));
    }

    // Refuses the keys of `object` that are not in `known`.
    void onlyKnown(const QJsonObject& object, const std::string& path,
                   std::initializer_list<std::string_view> known) {
        for (auto it = object.begin(); it != object.end(); ++it) {
            const std::string key = it.key().toStdString();
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                problems_.append(QString::fromStdString("unknown key " + join(path, key)));
            }
        }
    }

    // The section object at `key`, if present and an object.
    std::optional<QJsonObject> object(const QJsonObject& parent, const std::string& path,
                                      std::string_view key) {
        const QJsonValue value = parent.value(QLatin1String(key.data(), key.size()));
        if (value.isUndefined()) {
            return std::nullopt;
        }
        if (!value.isObject()) {
            problem(join(path, key), "expected an object");
            return std::nullopt;
        }
        return value.toObject();
    }

    void text(const QJsonObject& object, const std::string& path, std::string_view key,
              std::string& into, bool required = false) {
        const QJsonValue value = at(object, key);
        if (value.isUndefined()) {
            if (required) {
                problem(join(path, key), "missing");
            }
            return;
        }
        if (!value.isString()) {
            problem(join(path, key), "expected a text");
            return;
        }
        into = fieldText(value.toString());
    }

    void boolean(const QJsonObject& object, const std::string& path, std::string_view key,
                 bool& into) {
        const QJsonValue value = at(object, key);
        if (value.isUndefined()) {
            return;
        }
        if (!value.isBool()) {
            problem(join(path, key), "expected true or false");
            return;
        }
        into = value.toBool();
    }

    // A whole number within [low, high].
    std::optional<int> integer(const QJsonObject& object, const std::string& path,
                               std::string_view key, int low, int high) {
        const QJsonValue value = at(object, key);
        if (value.isUndefined()) {
            return std::nullopt;
        }
        const double number = value.toDouble();
        // Compared as a double before any cast: casting 1e300 (or NaN) to an integer is undefined.
        if (!value.isDouble() || !(number >= low && number <= high) ||
            number != std::trunc(number)) {
            problem(join(path, key), "expected a whole number " + std::to_string(low) + "..." +
                                         std::to_string(high));
            return std::nullopt;
        }
        return static_cast<int>(number);
    }

    // The index of the text among `choices`.
    template <std::size_t N>
    std::optional<std::size_t> choice(const QJsonObject& object, const std::string& path,
                                      std::string_view key, const char* const (&choices)[N]) {
        const QJsonValue value = at(object, key);
        if (value.isUndefined()) {
            return std::nullopt;
        }
        const std::string text = value.toString().toStdString();
        for (std::size_t i = 0; i < N; ++i) {
            if (value.isString() && text == choices[i]) {
                return i;
            }
        }
        std::string list;
        for (const char* c : choices) {
            list += (list.empty() ? "\"" : ", \"") + std::string(c) + "\"";
        }
        problem(join(path, key), "expected one of " + list);
        return std::nullopt;
    }

private:
    static QJsonValue at(const QJsonObject& object, std::string_view key) {
        return object.value(QLatin1String(key.data(), key.size()));
    }

    QStringList& problems_;
};

BasicFields readBasic(JsonReader& r, const QJsonObject& o) {
    const std::string path = "basic";
    r.onlyKnown(o, path, {"baud", "cutter", "beeper", "density", "font", "codepage"});
    BasicFields fields;
    if (const auto baud = r.integer(o, path, "baud", 0, 1'000'000)) {
        if (std::ranges::find(protocol::kBaudRates, *baud) == protocol::kBaudRates.end()) {
            std::string rates;
            for (const int rate : protocol::kBaudRates) {
                rates += (rates.empty() ? "" : ", ") + std::to_string(rate);
            }
            r.problem("basic.baud", "expected one of " + rates);
        }
        fields.baudRate = *baud;
    }
    r.boolean(o, path, "cutter", fields.cutterEnabled);
    r.boolean(o, path, "beeper", fields.beeperEnabled);
    if (const auto density = r.choice(o, path, "density", kDensityNames)) {
        fields.density = static_cast<int>(*density);
    }
    if (const auto font = r.choice(o, path, "font", kFontNames)) {
        fields.useFont12x24 = *font == 0;
    }
    const QJsonValue codepage = o.value(QStringLiteral("codepage"));
    if (codepage.isString()) {
        if (const auto* row = protocol::findLanguageByTitle(codepage.toString().toStdString())) {
            fields.language = row->id;
        } else {
            r.problem("basic.codepage",
                      "no codepage is titled \"" + codepage.toString().toStdString() + "\"");
        }
    } else if (const auto id = r.integer(o, path, "codepage", 0, 255)) {
        if (protocol::findLanguageById(static_cast<std::uint8_t>(*id)) == nullptr) {
            r.problem("basic.codepage", "no codepage has the id " + std::to_string(*id));
        }
        fields.language = static_cast<std::uint8_t>(*id);
    }
    return fields;
}

AddressFields readAddress(JsonReader& r, const QJsonObject& o, const std::string& path) {
    r.onlyKnown(o, path, {"dhcp", "address", "mask", "gateway"});
    AddressFields fields;
    const bool hasAddress = o.contains(QStringLiteral("address")) ||
                            o.contains(QStringLiteral("mask")) ||
                            o.contains(QStringLiteral("gateway"));
    // {"dhcp": true}, or a static address, mask and gateway ("dhcp": false may be written).
    fields.isDynamic = !hasAddress;
    r.boolean(o, path, "dhcp", fields.isDynamic);
    if (fields.isDynamic) {
        if (hasAddress) {
            r.problem(path, "an address, mask or gateway goes with \"dhcp\": false");
        }
        return fields;
    }
    r.text(o, path, "address", fields.ipAddress, true);
    r.text(o, path, "mask", fields.subnetMask, true);
    r.text(o, path, "gateway", fields.gateway, true);
    return fields;
}

BrokerFields readBroker(JsonReader& r, const QJsonObject& o) {
    const std::string path = "mqtt.broker";
    r.onlyKnown(o, path, {"server", "port", "username", "password", "clientId"});
    BrokerFields fields;
    r.text(o, path, "server", fields.server, true);
    r.text(o, path, "port", fields.port);
    r.text(o, path, "username", fields.username);
    r.text(o, path, "password", fields.password);
    // null (or absent): the printer's own client ID.
    if (!o.value(QStringLiteral("clientId")).isNull()) {
        r.text(o, path, "clientId", fields.clientId);
        fields.useDefaultClientID = !o.contains(QStringLiteral("clientId"));
    }
    return fields;
}

TopicFields readTopics(JsonReader& r, const QJsonObject& o) {
    const std::string path = "mqtt.topics";
    r.onlyKnown(o, path,
                {"subscribeSource", "publishReceipts", "qos", "heartbeatTopic", "replyTopic"});
    TopicFields fields;
    if (const auto source = r.choice(o, path, "subscribeSource", kSubscribeSourceNames)) {
        fields.selectedSubTopicType = static_cast<std::uint8_t>(*source);
    }
    r.boolean(o, path, "publishReceipts", fields.publishReceiptInfo);
    if (const auto qos = r.integer(o, path, "qos", 1, 2)) {
        fields.pubQos = static_cast<std::uint8_t>(*qos);
    }
    r.text(o, path, "heartbeatTopic", fields.heartbeatPubTopic);
    r.text(o, path, "replyTopic", fields.receiptReplyTopic);
    return fields;
}

TimingFields readTiming(JsonReader& r, const QJsonObject& o) {
    const std::string path = "mqtt.timing";
    r.onlyKnown(o, path, {"heartbeat", "keepalive", "ntpServer", "timezone", "testUrl"});
    TimingFields fields;
    r.text(o, path, "heartbeat", fields.heartbeatInterval);
    r.text(o, path, "keepalive", fields.keepAliveInterval);
    r.text(o, path, "ntpServer", fields.ntpServer);
    r.text(o, path, "timezone", fields.dateZone);
    r.text(o, path, "testUrl", fields.testWebUrl);
    return fields;
}

TlsSettings readTls(JsonReader& r, const QJsonObject& o) {
    const std::string path = "mqtt.tls";
    TlsSettings tls;
    const auto mode = r.choice(o, path, "mode", kTlsModes);
    if (!o.contains(QStringLiteral("mode"))) {
        r.problem(path + ".mode", "missing");
    }
    tls.mode = static_cast<TlsSettings::Mode>(mode.value_or(0));
    switch (tls.mode) {
    case TlsSettings::Mode::off:
        r.onlyKnown(o, path, {"mode"});
        break;
    case TlsSettings::Mode::oneWay:
        r.onlyKnown(o, path, {"mode", "certificate"});
        r.text(o, path, "certificate", tls.certificate, true);
        break;
    case TlsSettings::Mode::mutual:
        r.onlyKnown(o, path, {"mode", "ca", "clientCertificate", "clientKey", "password"});
        r.text(o, path, "ca", tls.ca, true);
        r.text(o, path, "clientCertificate", tls.clientCertificate, true);
        r.text(o, path, "clientKey", tls.clientKey, true);
        r.text(o, path, "password", tls.password);
        // A profile holds the files as PEM text; a lone surrogate in one is no text at all.
        for (const auto& [key, file] : {std::pair{"ca", &tls.ca},
                                        std::pair{"clientCertificate", &tls.clientCertificate},
                                        std::pair{"clientKey", &tls.clientKey}}) {
            if (!protocol::isValidUtf8(*file)) {
                r.problem(join(path, key), "not valid UTF-8 text");
            }
        }
        break;
    }
    return tls;
}

protocol::Bytes bytesOf(const std::string& text) {
    return protocol::Bytes(text.begin(), text.end());
}

template <typename Fields> Reader<Fields> fixed(const Fields& fields) {
    return [fields] { return fields; };
}

QJsonObject addressJson(const AddressFields& fields) {
    if (fields.isDynamic) {
        return {{"dhcp", true}};
    }
    return {{"dhcp", false},
            {"address", QString::fromStdString(fields.ipAddress)},
            {"mask", QString::fromStdString(fields.subnetMask)},
            {"gateway", QString::fromStdString(fields.gateway)}};
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

std::vector<ProfileSection> sectionPlans(const Profile& p) {
    std::vector<ProfileSection> sections;
    if (p.basic) {
        sections.push_back({"basic", basicPlan(*p.basic)});
    }
    if (p.name) {
        sections.push_back({"name", printerNamePlan(*p.name)});
    }
    if (p.ethernet) {
        sections.push_back({"ethernet", ipPlan(false, *p.ethernet)});
    }
    if (p.wifiAddress) {
        sections.push_back({"wifiAddress", ipPlan(true, *p.wifiAddress)});
    }
    if (p.wifi) {
        sections.push_back({"wifi", wifiPlan(p.wifi->ssid, p.wifi->password)});
    }
    if (p.broker) {
        sections.push_back({"mqtt.broker", brokerPlan(fixed(*p.broker))});
    }
    if (p.topics) {
        sections.push_back({"mqtt.topics", topicsPlan(fixed(*p.topics))});
    }
    if (p.timing) {
        sections.push_back({"mqtt.timing", timingPlan(fixed(*p.timing))});
    }
    if (p.tls) {
        const TlsSettings& tls = *p.tls;
        switch (tls.mode) {
        case TlsSettings::Mode::off:
            sections.push_back({"mqtt.tls", tlsOffPlan()});
            break;
        case TlsSettings::Mode::oneWay:
            sections.push_back({"mqtt.tls", oneWayTlsPlan(tls.certificate)});
            break;
        case TlsSettings::Mode::mutual:
            sections.push_back(
                {"mqtt.tls", mutualTlsPlan(bytesOf(tls.ca), bytesOf(tls.clientCertificate),
                                           bytesOf(tls.clientKey), tls.password)});
            break;
        }
    }
    return sections;
}

ProfilePlan profilePlan(const Profile& profile) {
    ProfilePlan result;
    std::chrono::milliseconds start{0};
    for (ProfileSection& section : sectionPlans(profile)) {
        std::chrono::milliseconds last = start;
        for (Step& step : section.plan.steps) {
            step.at += start;
            // One notice at the end of the whole profile, not one per section.
            step.confirms = false;
            last = std::max(last, step.at);
            result.plan.steps.push_back(std::move(step));
            result.stepSection.push_back(section.key);
        }
        start = last + kSectionSpacing;
    }
    if (!result.plan.steps.empty()) {
        result.plan.steps.back().confirms = true;
    }
    return result;
}

std::variant<Profile, QStringList> parseProfile(const QByteArray& json) {
    if (json.size() > kProfileLimit) {
        return QStringList{QStringLiteral("the profile is larger than 1 MiB")};
    }
    if (!protocol::isValidUtf8(std::string_view(json.constData(), json.size()))) {
        return QStringList{QStringLiteral("the profile is not UTF-8 text")};
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        const QByteArray before = json.left(error.offset);
        return QStringList{QStringLiteral("not JSON: %1 at line %2, column %3")
                               .arg(error.errorString())
                               .arg(before.count('\n') + 1)
                               .arg(error.offset - before.lastIndexOf('\n'))};
    }
    if (!document.isObject()) {
        return QStringList{QStringLiteral("a profile is one JSON object")};
    }
    const QJsonObject root = document.object();
    QStringList problems;
    for (const QString& path : duplicateKeyPaths(json)) {
        problems.append(QStringLiteral("duplicate key ") + path);
    }
    JsonReader r(problems);
    r.onlyKnown(root, {},
                {"format", "version", "basic", "name", "ethernet", "wifiAddress", "wifi", "mqtt"});
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(kProfileFormat.data())) {
        r.problem("format", "expected \"" + std::string(kProfileFormat) + "\"");
    }
    if (root.value(QStringLiteral("version")).toDouble() != kProfileVersion) {
        r.problem("version", "expected " + std::to_string(kProfileVersion));
    }

    Profile profile;
    if (const auto o = r.object(root, {}, "basic")) {
        profile.basic = readBasic(r, *o);
    }
    if (root.contains(QStringLiteral("name"))) {
        profile.name.emplace();
        r.text(root, {}, "name", *profile.name);
    }
    if (const auto o = r.object(root, {}, "ethernet")) {
        profile.ethernet = readAddress(r, *o, "ethernet");
    }
    if (const auto o = r.object(root, {}, "wifiAddress")) {
        profile.wifiAddress = readAddress(r, *o, "wifiAddress");
    }
    if (const auto o = r.object(root, {}, "wifi")) {
        r.onlyKnown(*o, "wifi", {"ssid", "password"});
        profile.wifi.emplace();
        r.text(*o, "wifi", "ssid", profile.wifi->ssid, true);
        r.text(*o, "wifi", "password", profile.wifi->password, true);
    }
    if (const auto mqtt = r.object(root, {}, "mqtt")) {
        r.onlyKnown(*mqtt, "mqtt", {"broker", "topics", "timing", "tls"});
        if (const auto o = r.object(*mqtt, "mqtt", "broker")) {
            profile.broker = readBroker(r, *o);
        }
        if (const auto o = r.object(*mqtt, "mqtt", "topics")) {
            profile.topics = readTopics(r, *o);
        }
        if (const auto o = r.object(*mqtt, "mqtt", "timing")) {
            profile.timing = readTiming(r, *o);
        }
        if (const auto o = r.object(*mqtt, "mqtt", "tls")) {
            profile.tls = readTls(r, *o);
        }
    }
    if (!problems.isEmpty()) {
        return problems;
    }
    // The values as the screens would judge them.
    for (const ProfileSection& section : sectionPlans(profile)) {
        for (const std::string& refusal : refusals(section.plan)) {
            r.problem(section.key, refusal);
        }
    }
    if (!problems.isEmpty()) {
        return problems;
    }
    return profile;
}

std::variant<QByteArray, QString> profileJson(const Profile& p) {
    QJsonObject root{{"format", QLatin1String(kProfileFormat.data())},
                     {"version", kProfileVersion}};
    if (p.basic) {
        const BasicFields& b = *p.basic;
        root.insert("basic", QJsonObject{{"baud", b.baudRate},
                                         {"cutter", b.cutterEnabled},
                                         {"beeper", b.beeperEnabled},
                                         {"density", kDensityNames[std::clamp(b.density, 0, 2)]},
                                         {"font", kFontNames[b.useFont12x24 ? 0 : 1]},
                                         {"codepage", int{b.language}}});
    }
    if (p.name) {
        root.insert("name", qs(*p.name));
    }
    if (p.ethernet) {
        root.insert("ethernet", addressJson(*p.ethernet));
    }
    if (p.wifiAddress) {
        root.insert("wifiAddress", addressJson(*p.wifiAddress));
    }
    if (p.wifi) {
        root.insert("wifi",
                    QJsonObject{{"ssid", qs(p.wifi->ssid)}, {"password", qs(p.wifi->password)}});
    }
    QJsonObject mqtt;
    if (p.broker) {
        const BrokerFields& b = *p.broker;
        mqtt.insert("broker",
                    QJsonObject{{"server", qs(b.server)},
                                {"port", qs(b.port)},
                                {"username", qs(b.username)},
                                {"password", qs(b.password)},
                                {"clientId", b.useDefaultClientID ? QJsonValue(QJsonValue::Null)
                                                                  : QJsonValue(qs(b.clientId))}});
    }
    if (p.topics) {
        const TopicFields& t = *p.topics;
        mqtt.insert("topics",
                    QJsonObject{{"subscribeSource",
                                 kSubscribeSourceNames[std::min<int>(t.selectedSubTopicType, 2)]},
                                {"publishReceipts", t.publishReceiptInfo},
                                {"qos", int{t.pubQos}},
                                {"heartbeatTopic", qs(t.heartbeatPubTopic)},
                                {"replyTopic", qs(t.receiptReplyTopic)}});
    }
    if (p.timing) {
        const TimingFields& t = *p.timing;
        mqtt.insert("timing", QJsonObject{{"heartbeat", qs(t.heartbeatInterval)},
                                          {"keepalive", qs(t.keepAliveInterval)},
                                          {"ntpServer", qs(t.ntpServer)},
                                          {"timezone", qs(t.dateZone)},
                                          {"testUrl", qs(t.testWebUrl)}});
    }
    if (p.tls) {
        const TlsSettings& t = *p.tls;
        QJsonObject tls{{"mode", kTlsModes[static_cast<int>(t.mode)]}};
        if (t.mode == TlsSettings::Mode::oneWay) {
            tls.insert("certificate", qs(t.certificate));
        } else if (t.mode == TlsSettings::Mode::mutual) {
            const std::pair<const char*, const std::string*> files[] = {
                {"ca", &t.ca},
                {"clientCertificate", &t.clientCertificate},
                {"clientKey", &t.clientKey}};
            for (const auto& [key, text] : files) {
                if (!protocol::isValidUtf8(*text)) {
                    return QStringLiteral("mqtt.tls.%1: the file is not text; a profile stores "
                                          "certificates and keys as PEM text")
                        .arg(QLatin1String(key));
                }
                tls.insert(QLatin1String(key), qs(*text));
            }
            tls.insert("password", qs(t.password));
        }
        mqtt.insert("tls", tls);
    }
    if (!mqtt.isEmpty()) {
        root.insert("mqtt", mqtt);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::variant<LoadedProfile, QStringList> readProfileFile(const QString& path) {
    auto read = files::readFileUpTo(path, kProfileLimit, files::Accept::regularFiles);
    if (const auto* problem = std::get_if<QString>(&read)) {
        return QStringList{*problem};
    }
    const auto& file = std::get<files::FileBytes>(read);
    if (file.overLimit) {
        return QStringList{QStringLiteral("%1 is larger than 1 MiB").arg(path)};
    }
    auto parsed = parseProfile(file.bytes);
    if (auto* problems = std::get_if<QStringList>(&parsed)) {
        return std::move(*problems);
    }
    LoadedProfile loaded{std::get<Profile>(std::move(parsed)), {}};
    if (QFileInfo(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
        loaded.warning = QStringLiteral("%1 can be read by other users, and a profile holds "
                                        "passwords: chmod 600 %1")
                             .arg(path);
    }
    return loaded;
}

std::optional<QString> writeProfileFile(const QString& path, const QByteArray& json) {
    return files::writeFileAtomically(path, json);
}

} // namespace plans
