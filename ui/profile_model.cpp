#include "ui/profile_model.hpp"

#include "protocol/decoder.hpp"

#include <QDir>

namespace ui {
namespace {

const char* const kTitles[] = {"Basic settings",     "Printer name",       "Ethernet address",
                               "Wi\u2011Fi address", "Wi\u2011Fi network", "MQTT broker",
                               "MQTT topics",        "MQTT timing",        "MQTT TLS"};

// Leaves only the chosen sections in the profile.
plans::Profile chosen(plans::Profile p, const QStringList& keys) {
    const auto keep = [&keys](auto& section, const char* key) {
        if (!keys.contains(QLatin1String(key))) {
            section.reset();
        }
    };
    keep(p.basic, "basic");
    keep(p.name, "name");
    keep(p.ethernet, "ethernet");
    keep(p.wifiAddress, "wifiAddress");
    keep(p.wifi, "wifi");
    keep(p.broker, "mqtt.broker");
    keep(p.topics, "mqtt.topics");
    keep(p.timing, "mqtt.timing");
    keep(p.tls, "mqtt.tls");
    return p;
}

} // namespace

ProfileModel::ProfileModel(QObject* parent)
    : SettingsScreenModel(parent),
      path(QDir::homePath() + QStringLiteral("/printer-profile.json")) {
    for (const auto key : plans::kSectionKeys) {
        chosenSections.append(QString::fromLatin1(key.data(), key.size()));
    }
    connect(this, &SettingsScreenModel::planStarted, this, [this](plans::PlanRun* run) {
        connect(run, &plans::PlanRun::stepHandedOver, this,
                [this](int index, qint64) { setState(index, QStringLiteral("sending")); });
        connect(run, &plans::PlanRun::stepReported, this,
                [this, run](int index, const connection::DeliveryReport& report) {
                    if (report.delivered) {
                        ++delivered_;
                        setState(index, QStringLiteral("delivered"));
                        return;
                    }
                    setState(index, QStringLiteral("failed: ") + report.error);
                    run->stop();
                });
        connect(run, &plans::PlanRun::finished, this, [this] {
            for (std::size_t i = 0; i < rows_.size(); ++i) {
                if (rows_[i].state == QLatin1String("waiting")) {
                    rows_[i].state = QStringLiteral("not sent");
                }
            }
            status_ =
                QStringLiteral("%1 of %2 commands delivered").arg(delivered_).arg(rows_.size());
            emit stepsChanged();
        });
    });
}

QVariantList ProfileModel::sections() {
    QVariantList list;
    for (std::size_t i = 0; i < std::size(plans::kSectionKeys); ++i) {
        const auto key = plans::kSectionKeys[i];
        list.append(
            QVariantMap{{QStringLiteral("key"), QString::fromLatin1(key.data(), key.size())},
                        {QStringLiteral("title"), QString::fromUtf8(kTitles[i])}});
    }
    return list;
}

QVariantList ProfileModel::steps() const {
    QVariantList list;
    for (const Row& row : rows_) {
        list.append(QVariantMap{{QStringLiteral("section"), row.section},
                                {QStringLiteral("line"), row.line},
                                {QStringLiteral("state"), row.state}});
    }
    return list;
}

QString ProfileModel::expandedPath() const {
    const QString trimmed = path.trimmed();
    return trimmed.startsWith(QStringLiteral("~/")) ? QDir::homePath() + trimmed.mid(1) : trimmed;
}

bool ProfileModel::save() {
    if (settings() == nullptr) {
        return false;
    }
    const auto notSaved = [this](const QString& why) {
        postAlert(QStringLiteral("Not Saved"), why, {});
        return false;
    };
    if (chosenSections.isEmpty()) {
        return notSaved(QStringLiteral("Choose at least one section to save."));
    }
    if (expandedPath().isEmpty()) {
        return notSaved(QStringLiteral("Enter the file to save the profile in."));
    }
    const auto json = plans::profileJson(chosen(settings()->profile(), chosenSections));
    if (const auto* problem = std::get_if<QString>(&json)) {
        return notSaved(*problem);
    }
    // What the screens would refuse to send is not saved either: a profile must apply.
    const QByteArray& text = std::get<QByteArray>(json);
    auto checked = plans::parseProfile(text);
    if (const auto* problems = std::get_if<QStringList>(&checked)) {
        return notSaved(problems->join(QLatin1Char('\n')));
    }
    if (const auto error = plans::writeProfileFile(expandedPath(), text)) {
        return notSaved(*error);
    }
    postAlert(QStringLiteral("Profile Saved"),
              QStringLiteral("%1\nIt holds passwords: only you can read it.").arg(expandedPath()),
              {});
    return true;
}

bool ProfileModel::load() {
    loaded_.reset();
    problems_.clear();
    warning_.clear();
    rows_.clear();
    status_.clear();
    auto read = plans::readProfileFile(expandedPath());
    if (const auto* problems = std::get_if<QStringList>(&read)) {
        problems_ = problems->join(QLatin1Char('\n'));
    } else {
        auto& profile = std::get<plans::LoadedProfile>(read);
        warning_ = profile.warning;
        loaded_ = plans::profilePlan(profile.profile);
        for (std::size_t i = 0; i < loaded_->plan.steps.size(); ++i) {
            QString line;
            for (const auto& command : protocol::decode(*loaded_->plan.steps[i].build().bytes)) {
                line += QString::fromStdString(protocol::renderLine(command));
            }
            rows_.push_back(
                {QString::fromStdString(loaded_->stepSection[i]), line, QStringLiteral("waiting")});
        }
        status_ = QStringLiteral("%1 commands to send").arg(rows_.size());
    }
    emit loadedChanged();
    emit stepsChanged();
    return loaded_.has_value();
}

void ProfileModel::apply() {
    if (!loaded_ || transferring()) {
        return;
    }
    delivered_ = 0;
    for (Row& row : rows_) {
        row.state = QStringLiteral("waiting");
    }
    status_ = QStringLiteral("Sending…");
    emit stepsChanged();
    run(loaded_->plan);
}

void ProfileModel::setState(int index, const QString& state) {
    rows_.at(static_cast<std::size_t>(index)).state = state;
    emit stepsChanged();
}

} // namespace ui
