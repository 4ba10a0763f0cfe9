#pragma once

#include "core/keyedoutput.h"
#include "core/portsupervisor.h"
#include "core/serialline.h"
#include "core/stationsettings.h"

#include <functional>

// A relay on RTS or DTR of a serial port (local or network). It opens
// released: RTS low, and DTR low too for a relay on DTR, from the open itself.
class SerialRelayOutput : public KeyedOutput
{
    Q_OBJECT

public:
    explicit SerialRelayOutput(SerialPortFactory &ports, QObject *parent = nullptr);

    // Taken at the next open.
    void configure(StationSettings::RelayLine line, bool heartbeat);
    void select(qint16 portNumber) { m_portNumber = portNumber; }
    // The message for a port that cannot be used, given where it is and why.
    void setFailureMessage(std::function<QString(const QString &detail)> message)
    {
        m_failureMessage = std::move(message);
    }

    void open() override;
    void close() override;
    bool isReady() const override;
    bool drive(bool keyed) override;
    void check() override;
    PortSupervisor::State state() const override { return m_supervisor.state(); }
    int retries() const override { return m_supervisor.retries(); }
    QString portNumber() const override { return QString::number(m_portNumber); }
    QString location() const override { return m_line.location(); }
    SerialPortDevice::CrashRelease crashRelease() const override { return m_line.crashRelease(); }

    SerialLine &line() { return m_line; }
    const SerialLine &line() const { return m_line; }
    PortSupervisor &supervisor() { return m_supervisor; }
    const PortSupervisor &supervisor() const { return m_supervisor; }
    // A line that was opened elsewhere and is usable now counts as ready.
    void adoptOpenLine();

private:
    void reportFailure();
    void failedWhileOpen();

    SerialLine m_line;
    PortSupervisor m_supervisor{m_line};
    StationSettings::RelayLine m_relayLine = StationSettings::RelayLine::Rts;
    bool m_heartbeat = false;
    qint16 m_portNumber = 0;
    bool m_high = false;
    std::function<QString(const QString &)> m_failureMessage;
};
