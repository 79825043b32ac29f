#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace vantro {

// Turns SIGTERM (what a desktop session sends at logout), SIGINT and SIGHUP
// into a Qt signal delivered by the event loop of the thread that made this
// object, so that they end the program the way Quit does. A signal the
// program was started ignoring stays ignored. Once one has arrived, the same
// signal again ends the program at once, as it would have without this. Only
// the first such object of a process listens; the handlers that were there
// come back when it goes.
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void drain();

    static constexpr int kCount = 3;
    static constexpr int kSignals[kCount] = {SIGTERM, SIGINT, SIGHUP};

    bool m_listening = false;
    bool m_installed[kCount] = {};
    struct sigaction m_previous[kCount] = {};
    int m_readEnd = -1;
    int m_writeEnd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace vantro
