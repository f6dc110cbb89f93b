#pragma once

#include <QFont>
#include <QObject>
#include <QVariantList>

// What the QML tests cannot see from QML: the accessibility interface an assistive technology
// drives, the glyphs a string shapes to, and the embedded resources.
class Probe : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Runs the named action ("Press", "Toggle", ...) the way the platform bridge does; false
    // when the item does not offer it.
    Q_INVOKABLE bool doAction(QObject* item, const QString& action) const;
    Q_INVOKABLE QString accessibleName(QObject* item) const;
    // Glyph indexes after shaping, so ligatures and missing glyphs (index 0) show.
    Q_INVOKABLE QVariantList glyphs(const QFont& font, const QString& text) const;
    Q_INVOKABLE QString resourceText(const QString& path) const;
};
