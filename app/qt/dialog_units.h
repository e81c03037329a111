// Dialog units: the font-relative measure in which the window layouts are written.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// A horizontal dialog unit is a quarter of the font's average character width, a vertical one an
// eighth of its character height; each coordinate is scaled and rounded on its own.
struct DialogUnits {
    int baseX; // average character width in pixels
    int baseY; // character height (ascent + descent) in pixels

    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    QRect toPixels(int x, int y, int width, int height) const;
    QSize toPixels(int width, int height) const;
};

// The units of a dialog set in font. The average width is that of the 52 Latin letters divided by
// 52 and rounded, which is how the dialog layouts were measured.
DialogUnits DialogUnitsOf(const QFont& font);
