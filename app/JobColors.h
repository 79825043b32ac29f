#pragma once

#include <QColor>

class QPalette;

// The colours the job list speaks in. The named ones are fixed; secondary and
// tertiary are fainter shades of the palette's text colour.
namespace vantro::JobColors {

QColor green();
QColor red();
QColor blue();
QColor orange();
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);

} // namespace vantro::JobColors
