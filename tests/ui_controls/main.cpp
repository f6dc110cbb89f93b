#include "probe.hpp"

#include "ui/controls/fonts.hpp"

#include <QQmlEngine>
#include <QtPlugin>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

Q_IMPORT_QML_PLUGIN(PrinterConfig_ControlsPlugin)

class Setup : public QObject {
    Q_OBJECT

public slots:
    void applicationAvailable() {
        ui::installFonts();
        qmlRegisterSingletonType<Probe>("PrinterConfig.Testing", 1, 0, "Probe",
                                        [](QQmlEngine*, QJSEngine*) { return new Probe; });
    }
    // Qt 6.4 puts a static module's qmldir under qrc:/, which is not an import path by default.
    void qmlEngineAvailable(QQmlEngine* engine) { engine->addImportPath(QStringLiteral("qrc:/")); }
};

QUICK_TEST_MAIN_WITH_SETUP(ui_controls, Setup)

#include "main.moc"
