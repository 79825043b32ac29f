#include "SymbolIcons.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cmath>

namespace vantro::SymbolIcons {

namespace {

QImage render(const QString& resource, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

} // namespace

QPixmap pixmap(const QString& name, int side, const QColor& color, qreal devicePixelRatio)
{
    const int pixels = static_cast<int>(std::lround(side * devicePixelRatio));
    QImage image = render(QStringLiteral(":/icons/%1.svg").arg(name), pixels);
    // Keeps the drawing's coverage and takes the colour.
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(render(QStringLiteral(":/icons/vantro.svg"), side)));
    return icon;
}

} // namespace vantro::SymbolIcons
