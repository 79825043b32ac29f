#include "JobColors.h"

#include <QPalette>

namespace vantro::JobColors {

QColor green()
{
    return {40, 167, 69};
}

QColor red()
{
    return {220, 53, 48};
}

QColor blue()
{
    return {0, 122, 255};
}

QColor orange()
{
    return {242, 140, 0};
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
