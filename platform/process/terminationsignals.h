#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a kill, Ctrl+C, the terminal or the
// session going away) into a Qt signal delivered by the event loop, so that
// the program can end the way its window's close does. Only the async-safe
// write to a socket pair happens inside the signal handler.
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
};
