#pragma once

#include "plans/mqtt_plans.hpp"
#include "plans/screen_plans.hpp"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// A profile: the settings of a printer saved once, in a JSON file, and applied to one printer or
// to many. Each section goes through the plan of the screen that sends it; nothing here builds
// bytes of its own.
namespace plans {

struct WifiCredentials {
    std::string ssid;
    std::string password;
};

struct TlsSettings {
    enum class Mode { off, oneWay, mutual };
    Mode mode = Mode::off;
    std::string certificate; // one-way: PEM text
    std::string ca;          // mutual: the three PEM texts and the key's password
    std::string clientCertificate;
    std::string clientKey;
    std::string password;
};

// Every section is optional; a profile sends only what it holds.
struct Profile {
    std::optional<BasicFields> basic;
    std::optional<std::string> name;
    std::optional<AddressFields> ethernet;
    std::optional<AddressFields> wifiAddress;
    std::optional<WifiCredentials> wifi;
    std::optional<BrokerFields> broker;
    std::optional<TopicFields> topics;
    std::optional<TimingFields> timing;
    std::optional<TlsSettings> tls;
};

inline constexpr std::string_view kProfileFormat = "printer-config profile";
inline constexpr int kProfileVersion = 1;
// A profile with three certificates is a few tens of kilobytes.
inline constexpr qint64 kProfileLimit = qint64{1} << 20;
// Between the last command of one section and the first of the next: the screens' own spacing.
inline constexpr std::chrono::milliseconds kSectionSpacing{250};

// The sections' key paths, in the order they are applied.
inline constexpr std::string_view kSectionKeys[] = {"basic",       "name",        "ethernet",
                                                    "wifiAddress", "wifi",        "mqtt.broker",
                                                    "mqtt.topics", "mqtt.timing", "mqtt.tls"};

struct ProfileSection {
    std::string key; // one of kSectionKeys
    Plan plan;
};
// The sections the profile holds, each as its screen's plan, in applying order.
std::vector<ProfileSection> sectionPlans(const Profile& profile);

// The whole profile as one plan: the sections one after another, each with its own spacing and
// kSectionSpacing between them; `stepSection[i]` is the key of step i's section.
struct ProfilePlan {
    Plan plan;
    std::vector<std::string> stepSection;
};
ProfilePlan profilePlan(const Profile& profile);

// The profile from JSON text, checked whole: structure, types and values, including every
// refusal a screen would give. The messages name the key ("mqtt.broker.port: …",
// "unknown key mqtt.timing.keepAlive"); all of them, not just the first.
std::variant<Profile, QStringList> parseProfile(const QByteArray& json);

// The profile as JSON text. Fails (with the key's message) only for a mutual TLS file that is
// not text: a profile stores certificates as PEM text.
std::variant<QByteArray, QString> profileJson(const Profile& profile);

// Reads and checks a profile file. `warning` is set when others may read the file (it holds
// passwords).
struct LoadedProfile {
    Profile profile;
    QString warning;
};
std::variant<LoadedProfile, QStringList> readProfileFile(const QString& path);

// Writes the JSON text readable by its owner only, atomically: the file is either the old one or
// the whole new one. Returns why it could not be written.
std::optional<QString> writeProfileFile(const QString& path, const QByteArray& json);

} // namespace plans
