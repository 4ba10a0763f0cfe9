#pragma once

#include "core/keyedoutput.h"
#include "core/portsupervisor.h"
#include "core/serialline.h"
#include "core/stationsettings.h"

#include <QList>
#include <QPointer>

#include <functional>

// A relay on RTS or DTR of a serial port (local or network). It opens
// released: RTS low, and DTR low too for a relay on DTR, from the open itself.
// A step is confirmed when a local line reads back, or when the device
// server has answered the command.
//
// Two relays on one adapter (RTS and DTR) share one open: the later output
// drives its line on the earlier one's port, which then opens with both
// lines low, and follows it when it opens, fails or is lost.
class SerialRelayOutput : public KeyedOutput
{
    Q_OBJECT

public:
    explicit SerialRelayOutput(SerialPortFactory &ports, QObject *parent = nullptr);

    // Taken at the next open.
    void configure(StationSettings::RelayLine line, bool heartbeat);
    void select(qint16 portNumber) { m_portNumber = portNumber; }
    qint16 selectedPort() const { return m_portNumber; }
    StationSettings::RelayLine relayLine() const { return m_relayLine; }
    // The message for a port that cannot be used, given where it is and why.
    void setFailureMessage(std::function<QString(const QString &detail)> message)
    {
        m_failureMessage = std::move(message);
    }
    // Drives the relay line on the port of `owner`, an earlier output on
    // the same adapter; nullptr for a port of its own. Only while closed.
    void shareLineOf(SerialRelayOutput *owner);
    // Why it must not be opened as set (a supply on its line), told once;
    // empty when it may.
    void refuse(const QString &why);

    void open() override;
    void close() override;
    bool isReady() const override;
    bool drive(bool keyed) override;
    // A local write is confirmed inside drive(): its bound is never reached
    // unless the machine stalls. A device server answers within a round trip.
    static constexpr int LocalConfirmBoundMs = 100;
    static constexpr int NetworkConfirmBoundMs = 1000;
    int confirmBoundMs() const override
    {
        return activeLine().confirmsWritesLater() ? NetworkConfirmBoundMs : LocalConfirmBoundMs;
    }
    void abandon() override;
    void check() override;
    PortSupervisor::State state() const override;
    int retries() const override { return m_owner ? m_owner->retries() : m_supervisor.retries(); }
    QString portNumber() const override { return QString::number(m_portNumber); }
    QString location() const override { return activeLine().location(); }
    SerialPortDevice::CrashRelease crashRelease() const override { return activeLine().crashRelease(); }

    SerialLine &line() { return m_line; }
    const SerialLine &line() const { return m_line; }
    PortSupervisor &supervisor() { return m_supervisor; }
    const PortSupervisor &supervisor() const { return m_supervisor; }
    // A line that was opened elsewhere and is usable now counts as ready.
    void adoptOpenLine();

private:
    // The line this relay drives: its own, or its owner's.
    SerialLine &activeLine() { return m_owner ? m_owner->m_line : m_line; }
    const SerialLine &activeLine() const { return m_owner ? m_owner->m_line : m_line; }
    void applyLevelsAtOpen();
    void writesAnswered();
    void reportFailure();
    void failedWhileOpen();

    SerialLine m_line;
    PortSupervisor m_supervisor{m_line};
    StationSettings::RelayLine m_relayLine = StationSettings::RelayLine::Rts;
    bool m_heartbeat = false;
    qint16 m_portNumber = 0;
    bool m_high = false;
    // A write the device server has not answered yet.
    bool m_awaitingAnswer = false;
    QPointer<SerialRelayOutput> m_owner;
    QList<QPointer<SerialRelayOutput>> m_sharers;
    QString m_refusal;
    std::function<QString(const QString &)> m_failureMessage;
};
