#pragma once

#include <QLabel>

#include <functional>

namespace vantro {

// One line of text cut where `mode` says when it does not fit. It asks for the
// whole text's width but gives way down to an ellipsis; text() is what shows.
// The whole frame takes the double-click, gaps between glyphs included.
class ElidedLabel final : public QLabel {
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }

    std::function<void()> onDoubleClick;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void reelide();

    Qt::TextElideMode m_mode;
    QString m_fullText;
};

} // namespace vantro
