#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vantro::SymbolIcons {

// One of the window's symbols (":/icons/<name>.svg", drawn in black) at
// `side` logical pixels, in `color`, so it reads well in light and dark
// themes alike.
QPixmap pixmap(const QString& name, int side, const QColor& color, qreal devicePixelRatio);

// The program's own icon, at the sizes window managers and task bars ask for.
QIcon applicationIcon();

} // namespace vantro::SymbolIcons
