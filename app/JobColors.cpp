#include "JobColors.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

namespace vantro::JobColors {

namespace {

// What text needs against its background to stay legible (the accessibility
// guidelines' figure for large and bold text).
constexpr double kLeastContrast = 3.0;

double relativeLuminance(const QColor& color)
{
    const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

// The lesser contrast of the colour against the two row shades.
double leastContrast(const QColor& color, double base, double alternate)
{
    const double own = relativeLuminance(color);
    const auto against
        = [own](double background) { return (std::max(own, background) + 0.05) / (std::min(own, background) + 0.05); };
    return std::min(against(base), against(alternate));
}

// The hue at the lightness nearest its own that reads on both kinds of row;
// where no lightness does, the one that reads best.
QColor readableShade(const QColor& hue, const QPalette& palette)
{
    const double base = relativeLuminance(palette.color(QPalette::Active, QPalette::Base));
    const double alternate = relativeLuminance(palette.color(QPalette::Active, QPalette::AlternateBase));
    const int own = hue.lightness();
    QColor best = hue;
    double bestContrast = leastContrast(hue, base, alternate);
    for (int step = 1; step <= 255 && bestContrast < kLeastContrast; ++step) {
        for (const int lightness : {own - step, own + step}) {
            if (lightness < 0 || lightness > 255)
                continue;
            const QColor shade = QColor::fromHsl(hue.hslHue(), hue.hslSaturation(), lightness);
            const double contrast = leastContrast(shade, base, alternate);
            if (contrast > bestContrast) {
                best = shade;
                bestContrast = contrast;
            }
        }
    }
    return best;
}

// Worked out once per pair of row shades: the table asks at every paint.
struct Shades {
    QRgb base = 0;
    QRgb alternate = 0;
    QColor green;
    QColor red;
    QColor orange;
};

const Shades& shadesFor(const QPalette& palette)
{
    static Shades cached;
    static bool filled = false;
    const QRgb base = palette.color(QPalette::Active, QPalette::Base).rgba();
    const QRgb alternate = palette.color(QPalette::Active, QPalette::AlternateBase).rgba();
    if (!filled || cached.base != base || cached.alternate != alternate) {
        cached = {base, alternate, readableShade(QColor(40, 167, 69), palette),
                  readableShade(QColor(220, 53, 48), palette), readableShade(QColor(242, 140, 0), palette)};
        filled = true;
    }
    return cached;
}

} // namespace

QColor green(const QPalette& palette)
{
    return shadesFor(palette).green;
}

QColor red(const QPalette& palette)
{
    return shadesFor(palette).red;
}

QColor blue()
{
    return {0, 122, 255};
}

QColor orange(const QPalette& palette)
{
    return shadesFor(palette).orange;
}

QColor secondary(const QPalette& palette)
{
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.5f);
    return color;
}

QColor tertiary(const QPalette& palette)
{
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.26f);
    return color;
}

} // namespace vantro::JobColors
