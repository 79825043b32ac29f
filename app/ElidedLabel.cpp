#include "ElidedLabel.h"

#include <QFontMetrics>
#include <QMouseEvent>

#include <cmath>

namespace vantro {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setFullText(const QString& text)
{
    m_fullText = text;
    updateGeometry();
    reelide();
}

QSize ElidedLabel::sizeHint() const
{
    // Rounded up: a width one fraction of a pixel short would cut the text.
    const QFontMetricsF metrics(font());
    const QMargins margins = contentsMargins();
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(m_fullText))) + margins.left() + margins.right(),
            static_cast<int>(std::ceil(metrics.height())) + margins.top() + margins.bottom()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(QStringLiteral(u"\u2026")), sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    reelide();
}

void ElidedLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && onDoubleClick)
        onDoubleClick();
    QLabel::mouseDoubleClickEvent(event);
}

void ElidedLabel::reelide()
{
    const QString shown = QFontMetrics(font()).elidedText(m_fullText, m_mode, contentsRect().width());
    if (shown != text())
        setText(shown);
}

} // namespace vantro
