#pragma once

#include <QColor>

class QPalette;

// The colours the job list speaks in. Green and red carry text, so they are
// shades chosen for the palette's rows; blue and orange are fixed; secondary
// and tertiary are fainter shades of the palette's text colour.
namespace vantro::JobColors {

QColor green(const QPalette& palette);
QColor red(const QPalette& palette);
QColor blue();
QColor orange();
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);

} // namespace vantro::JobColors
