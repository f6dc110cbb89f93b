#include "ui/controls/accessibility.hpp"

#include <QAccessible>
#include <QQuickItem>
#include <QtQuick/private/qaccessiblequickitem_p.h>

#include <algorithm>
#include <memory>

namespace ui {
namespace {

bool isTextField(const QQuickItem* item) {
    return item->inherits("QQuickTextInput") || item->inherits("QQuickTextEdit");
}

// Qt Quick's text fields offer their text to assistive tools read-only. Dictation, braille
// displays and scripting clients put text in through the editable-text interface, so fields offer
// it too; the text goes in as if the user had typed it (the field's length limit holds) and the
// field's textChanged carries it to the model.
class AccessibleItem final : public QAccessibleQuickItem, public QAccessibleEditableTextInterface {
public:
    using QAccessibleQuickItem::QAccessibleQuickItem;

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::EditableTextInterface && isTextField(item())) {
            return static_cast<QAccessibleEditableTextInterface*>(this);
        }
        return QAccessibleQuickItem::interface_cast(type);
    }

    void deleteText(int startOffset, int endOffset) override {
        replaceText(startOffset, endOffset, QString());
    }

    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }

    void replaceText(int startOffset, int endOffset, const QString& text) override {
        QQuickItem* field = item();
        if (!field->isEnabled() || field->property("readOnly").toBool()) {
            return;
        }
        QString contents = field->property("text").toString();
        const auto size = static_cast<int>(contents.size());
        const int start = std::clamp(startOffset, 0, size);
        const int end = std::clamp(endOffset, start, size);
        contents.replace(start, end - start, text);
        field->setProperty("text", contents);
        const auto cursor = std::min(start + static_cast<int>(text.size()),
                                     static_cast<int>(field->property("text").toString().size()));
        field->setProperty("cursorPosition", cursor);
    }

    QString text(QAccessible::Text type) const override {
        QString text = QAccessibleQuickItem::text(type);
        if (type == QAccessible::Name && text.isEmpty()) {
            // Qt 6.4 withholds a password field's name along with its text; the field keeps the
            // name in accessibleName as well.
            text = item()->property("accessibleName").toString();
        }
        return text;
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleQuickItem::state();
        // isEnabled() is the effective state: an item inside a disabled parent is disabled too.
        if (!item()->isEnabled()) {
            state.disabled = true;
            state.focusable = false;
        }
        // A radio button is a choice whether or not a press can clear it.
        if (role() == QAccessible::RadioButton) {
            state.checkable = true;
        }
        return state;
    }
};

QAccessibleInterface* accessibleItem(const QString& className, QObject* object) {
    if (className != QLatin1String("QQuickItem")) {
        return nullptr;
    }
    auto* item = qobject_cast<QQuickItem*>(object);
    if (item == nullptr) {
        return nullptr;
    }
    auto interface = std::make_unique<AccessibleItem>(item);
    // Items without accessible properties stay out of the tree, as Qt Quick's own factory does.
    return interface->isAccessible() ? interface.release() : nullptr;
}

} // namespace

void installAccessibleStates() {
    static bool installed = false;
    if (!installed) {
        installed = true;
        QAccessible::installFactory(&accessibleItem);
    }
}

} // namespace ui
