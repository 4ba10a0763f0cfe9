#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a kill, Ctrl+C, the terminal or the
// session going away) into a Qt signal delivered by the event loop, so that
// the program can end the way its window's close does. Only the async-safe
// write to a socket pair happens inside the signal handler.
//
// Only the first signal is passed on. The end it starts releases the outputs
// in order, with their tails, in an event loop of its own; a second Ctrl+C or
// a service manager's repeated stop must not end that loop early, and is
// caught and dropped (only SIGKILL can hurry the end).
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
    bool m_requested = false;
};
