// Dialog units from font metrics.
#include "app/qt/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace {

// value * numerator / denominator, rounded half away from zero, for the non-negative values of a
// layout.
int ScaleRounded(int value, int numerator, int denominator) {
    return (value * numerator + denominator / 2) / denominator;
}

} // namespace

int DialogUnits::toPixelsX(int units) const {
    return ScaleRounded(units, baseX, 4);
}

int DialogUnits::toPixelsY(int units) const {
    return ScaleRounded(units, baseY, 8);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
    return {toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height)};
}

QSize DialogUnits::toPixels(int width, int height) const {
    return {toPixelsX(width), toPixelsY(height)};
}

DialogUnits DialogUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters + 26) / 52, metrics.ascent() + metrics.descent()};
}
