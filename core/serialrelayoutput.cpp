#include "core/serialrelayoutput.h"

SerialRelayOutput::SerialRelayOutput(SerialPortFactory &ports, QObject *parent)
    : KeyedOutput(parent)
    , m_line(ports)
{
    m_line.setLevelsAtOpen(false, std::nullopt);
    connect(&m_supervisor, &PortSupervisor::stateChanged, this, &KeyedOutput::stateChanged);
    connect(&m_supervisor, &PortSupervisor::reopened, this, &SerialRelayOutput::adoptOpenLine);
    // Queued: a failure is found inside a poll or a click, and whoever shows
    // the message must not do so inside it.
    connect(&m_supervisor, &PortSupervisor::newFailure, this, &SerialRelayOutput::reportFailure,
            Qt::QueuedConnection);
}

void SerialRelayOutput::configure(StationSettings::RelayLine line, bool heartbeat)
{
    m_relayLine = line;
    m_heartbeat = heartbeat;
    // A relay on DTR opens with RTS and DTR low; on RTS, DTR is the
    // platform's.
    const bool dtrRelay = line == StationSettings::RelayLine::Dtr;
    m_line.setLevelsAtOpen(false, dtrRelay ? std::optional<bool>(false) : std::nullopt);
}

void SerialRelayOutput::open()
{
    if (m_line.isOpen()) {
        adoptOpenLine();
        return;
    }
    if (m_line.isOpening())
        return;
    m_supervisor.stop();
    m_high = false;
    m_line.select(m_portNumber);
    // A remote relay whose server drops the lines of a silent connection
    // needs to hear from us while we are alive, after every reopen too.
    m_line.setHeartbeat(m_heartbeat);
    m_supervisor.openLater();
}

void SerialRelayOutput::close()
{
    drive(false);
    m_supervisor.stop();
    m_high = false;
}

void SerialRelayOutput::adoptOpenLine()
{
    if (m_supervisor.state() != PortSupervisor::State::Ready)
        m_supervisor.opened();
    // It opened released, whatever was asked while it was closed.
    m_high = false;
    emit ready();
}

bool SerialRelayOutput::isReady() const
{
    return m_line.isOpen() && m_supervisor.state() == PortSupervisor::State::Ready;
}

bool SerialRelayOutput::drive(bool keyed)
{
    if (!m_line.isOpen()) {
        m_high = false;
        return !keyed;
    }
    // Written on a change only: once per edge, not once per event that
    // confirms it.
    if (keyed == m_high)
        return true;
    try {
        if (m_relayLine == StationSettings::RelayLine::Dtr) {
            // The relay on DTR: RTS stays low with it.
            if (!keyed)
                m_line.setRtsEnabled(false);
            m_line.setDtrEnabled(keyed);
        } else {
            m_line.setRtsEnabled(keyed);
        }
        m_high = keyed;
        return true;
    } catch (const SerialLineError &) {
        failedWhileOpen();
        return false;
    }
}

void SerialRelayOutput::check()
{
    if (!m_line.isOpen())
        return;
    try {
        m_line.ctsHolding();
    } catch (const SerialLineError &) {
        failedWhileOpen();
    }
}

void SerialRelayOutput::failedWhileOpen()
{
    // The relay no longer follows: it is opened again in the background,
    // released, and keys at the next press.
    m_high = false;
    m_supervisor.lost();
    emit lost();
}

void SerialRelayOutput::reportFailure()
{
    if (m_failureMessage)
        emit failed(m_failureMessage(m_line.openFailureDetail()));
}
