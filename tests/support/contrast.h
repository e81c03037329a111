// The contrast of two colours as the Web Content Accessibility Guidelines define it, for tests
// that measure what a window actually shows.
#pragma once

#include <algorithm>
#include <cmath>

// Each colour as red, green and blue from 0 to 255; the ratio runs from 1 to 21.
inline double WcagContrast(int r1, int g1, int b1, int r2, int g2, int b2) {
    const auto luminance = [](int r, int g, int b) {
        const auto channel = [](int value) {
            const double c = value / 255.0;
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
    };
    const double a = luminance(r1, g1, b1), b = luminance(r2, g2, b2);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}
