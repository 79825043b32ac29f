#pragma once

#include <QWidget>

#include <memory>

namespace vantro {

class AppSettings;
class DesktopActions;
class TextPrompt;

// The row under the job list: the settings summary, the job count, the preset
// menu, and the Stop, support and settings buttons. It follows the settings
// object by itself; the window tells it the job count.
class FooterView : public QWidget {
    Q_OBJECT

public:
    FooterView(AppSettings& settings, DesktopActions& desktop, TextPrompt& prompt, QWidget* parent = nullptr);
    ~FooterView() override;

    void setJobCount(qsizetype count);

Q_SIGNALS:
    void stopRequested();
    // The settings button and a double-click on the summary.
    void openSettingsRequested();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace vantro
