#pragma once

#include "core/keyingengine.h"

#include <QObject>
#include <QTextStream>
#include <QTimer>

class SettingsStore;
class TimeoutWarning;

// The keying engine without a window, for an operating position with a
// footswitch and no screen: it polls the engine and writes every change as
// one line on a text stream (time, what, why), for a terminal or a journal:
//
//     2026-12-07T18:30:01.123 keyed-by-footswitch footswitch
//     2026-12-07T18:30:01.123 keyed by footswitch
//     2026-12-07T18:30:02.456 released footswitch
//     2026-12-07T18:30:02.456 output Com2 /dev/ttyUSB1 lost
//     2026-12-07T18:33:01.123 timeout-warning 10
class HeadlessStation : public QObject
{
    Q_OBJECT

public:
    HeadlessStation(KeyingEngine &engine, const SettingsStore &settings, QTextStream &out,
                    QObject *parent = nullptr);

    // Takes the settings and opens the ports. False, with the reason on the
    // stream, when no port has been chosen yet: without a window nobody
    // could have chosen one, and the built-in default is a device the user
    // never named.
    bool start();
    // Releases and closes the ports.
    void stop();
    // Each warning of the coming time-out as a line, with the seconds left.
    void showTimeoutWarning(const TimeoutWarning &warning);

    // One line: the time, then `what`.
    void write(const QString &what);

    static QString stateName(KeyingEngine::State state);
    static QString causeName(KeyingEngine::Cause cause);
    // "ready", "not-available", "lost": one word.
    static QString portStateName(PortSupervisor::State state);

private:
    void reportPorts();

    KeyingEngine &m_engine;
    const SettingsStore &m_settings;
    QTextStream &m_out;
    QTimer m_poll;
    QString m_lastInput;
    QString m_lastOutput;
    QStringList m_lastMore;
};
