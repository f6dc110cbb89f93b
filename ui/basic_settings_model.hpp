#pragma once

#include "ui/settings_screen_model.hpp"

#include <QVariantList>

namespace ui {

// The Basic screen: baud rate, cutter, beeper and density live in the sheet; the character set
// and the font are the screen's own and start afresh each time it is shown.
class BasicSettingsModel : public SettingsScreenModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(int language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString languageTitle READ languageTitle NOTIFY languageChanged)
    Q_PROPERTY(bool useFont12x24 MEMBER useFont12x24 NOTIFY fontChanged)
    Q_PROPERTY(QVariantList languageOptions READ languageOptions CONSTANT)
    Q_PROPERTY(QVariantList baudRates READ baudRates CONSTANT)

public:
    using SettingsScreenModel::SettingsScreenModel;
    ~BasicSettingsModel() override { leaving(); }
    void keepValues(ScreenValues& values) const override {
        values.language = static_cast<std::uint8_t>(language_);
        values.useFont12x24 = useFont12x24;
    }

    int language() const { return language_; }
    void setLanguage(int id);
    QString languageTitle() const;
    static QVariantList languageOptions(); // [{id, title}] in table order
    static QVariantList baudRates();

    // "Set": one basic-parameters command with everything as it stands now.
    Q_INVOKABLE void set();

    bool useFont12x24 = ScreenValues{}.useFont12x24;

signals:
    void languageChanged();
    void fontChanged();

private:
    int language_ = ScreenValues{}.language;
};

} // namespace ui
