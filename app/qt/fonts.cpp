// Font choice and substitution for the window.
#include "app/qt/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace {

// Makes the Windows face names of the layouts resolve to fonts that Linux systems carry. Runs once,
// before the first font is made; needs the application object.
void InstallFontSubstitutes() {
    static const bool installed = [] {
        // The dialog face is a Windows alias; Liberation Sans has the metrics the layouts were
        // drawn for, DejaVu Sans is nearly everywhere.
        const QStringList sans = {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
        QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg"), sans);
        if (!QFontDatabase::hasFamily(QStringLiteral("Arial"))) {
            QFont::insertSubstitutions(QStringLiteral("Arial"), sans);
        }
        return true;
    }();
    (void)installed;
}

} // namespace

QFont DialogFont() {
    InstallFontSubstitutes();
    QFont font(QStringLiteral("MS Shell Dlg"));
    font.setPointSize(8);
    font.setWeight(QFont::Normal);
    return font;
}

QFont ChatFont() {
    InstallFontSubstitutes();
    // Arial, or the face with its metrics; emoji that face lacks come from the colour emoji font,
    // where the system has one, before DejaVu Sans's black-and-white ones.
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Noto Color Emoji"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}
