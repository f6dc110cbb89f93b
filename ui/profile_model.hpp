#pragma once

#include "plans/profile.hpp"
#include "ui/settings_screen_model.hpp"

#include <QStringList>
#include <QVariantList>

namespace ui {

// Saving the values the screens hold as a profile, and applying a profile file over the sheet's
// transport: what it will send (each command decoded), then each command's fate as it goes. A
// profile stops at its first failure; the list keeps what was delivered and names the failure.
class ProfileModel : public SettingsScreenModel {
    Q_OBJECT
    QML_ELEMENT
    // [{key, title}] in applying order.
    Q_PROPERTY(QVariantList sections READ sections CONSTANT)
    Q_PROPERTY(QStringList chosenSections MEMBER chosenSections NOTIFY chosenSectionsChanged)
    Q_PROPERTY(QString path MEMBER path NOTIFY pathChanged)
    Q_PROPERTY(bool loaded READ loaded NOTIFY loadedChanged)
    Q_PROPERTY(QString problems READ problems NOTIFY loadedChanged)
    Q_PROPERTY(QString warning READ warning NOTIFY loadedChanged)
    // [{section, line, state}], state "waiting", "sending", "delivered", "failed: …", "not sent".
    Q_PROPERTY(QVariantList steps READ steps NOTIFY stepsChanged)
    Q_PROPERTY(QString status READ status NOTIFY stepsChanged)

public:
    explicit ProfileModel(QObject* parent = nullptr);

    static QVariantList sections();
    bool loaded() const { return loaded_.has_value(); }
    QString problems() const { return problems_; }
    QString warning() const { return warning_; }
    QVariantList steps() const;
    QString status() const { return status_; }

    // Writes the chosen sections of what the screens hold to `path`; refuses (with each key's
    // message) values a printer would refuse, so a saved profile always applies.
    Q_INVOKABLE bool save();
    // Reads and checks the profile at `path`, and lists what it would send.
    Q_INVOKABLE bool load();
    Q_INVOKABLE void apply();

    QStringList chosenSections;
    QString path;

signals:
    void chosenSectionsChanged();
    void pathChanged();
    void loadedChanged();
    void stepsChanged();

protected:
    QString restartMessage() const override {
        return QStringLiteral("Profile applied, please restart the printer to apply the settings");
    }

private:
    struct Row {
        QString section;
        QString line;
        QString state;
    };
    QString expandedPath() const;
    void setState(int index, const QString& state);

    std::optional<plans::ProfilePlan> loaded_;
    QString problems_;
    QString warning_;
    std::vector<Row> rows_;
    QString status_;
    int delivered_ = 0;
};

} // namespace ui
