#include "ui/controls/fonts.hpp"

#include <QFont>
#include <QFontDatabase>
#include <QResource>
#include <QtGlobal>

namespace ui {
namespace {

bool registerEmbeddedFonts() {
    static const char* const files[] = {
        ":/fonts/Manrope-Regular.ttf",       ":/fonts/Manrope-Medium.ttf",
        ":/fonts/Manrope-SemiBold.ttf",      ":/fonts/Manrope-Bold.ttf",
        ":/fonts/RobotoCondensed-Bold.ttf",  ":/fonts/Roboto-Regular.ttf",
        ":/fonts/MaterialIcons-Regular.ttf",
    };
    for (const char* file : files) {
        // Uncompressed resources hand out their bytes where they lie in the program (no copy on
        // the heap, pages shared with every other copy of the program).
        const QResource resource(QString::fromLatin1(file));
        if (QFontDatabase::addApplicationFontFromData(resource.uncompressedData()) < 0)
            qWarning("installFonts: cannot load the embedded font %s", file);
    }

    // The design names families that are not free to ship; these are their lookalikes.
    QFont::insertSubstitution(QStringLiteral("Avenir Next"), QStringLiteral("Manrope"));
    QFont::insertSubstitution(QStringLiteral("Avenir Next Condensed"),
                              QStringLiteral("Roboto Condensed"));
    return true;
}

} // namespace

void installFonts() {
    // Each addApplicationFont call would register another copy of the same font.
    [[maybe_unused]] static const bool installed = registerEmbeddedFonts();
}

} // namespace ui
