#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the operating system's requests to end the program (SIGTERM, SIGINT, SIGHUP; Ctrl+C on a Windows console)
// into a signal on the event loop, so that the program ends through its normal close sequence. A SIGHUP that was
// ignored when the program started (nohup) stays ignored.
class TerminationSignals final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};
