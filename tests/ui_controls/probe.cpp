#include "probe.hpp"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QFile>
#include <QGlyphRun>
#include <QTextLayout>

bool Probe::doAction(QObject* item, const QString& action) const {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(item);
    QAccessibleActionInterface* actions = iface ? iface->actionInterface() : nullptr;
    if (!actions || !actions->actionNames().contains(action))
        return false;
    actions->doAction(action);
    return true;
}

QString Probe::accessibleName(QObject* item) const {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(item);
    return iface ? iface->text(QAccessible::Name) : QString();
}

QVariantList Probe::glyphs(const QFont& font, const QString& text) const {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QVariantList indexes;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        for (quint32 index : run.glyphIndexes())
            indexes.append(index);
    }
    return indexes;
}

QString Probe::resourceText(const QString& path) const {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
