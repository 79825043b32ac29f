#pragma once

#include <QColor>

class QPalette;

// The colours the job list speaks in. Green, red and orange carry text, so
// they are shades chosen for the palette's rows; blue marks only a dot and is
// fixed; secondary and tertiary are fainter shades of the palette's text
// colour.
namespace vantro::JobColors {

QColor green(const QPalette& palette);
QColor red(const QPalette& palette);
QColor blue();
QColor orange(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);

} // namespace vantro::JobColors
