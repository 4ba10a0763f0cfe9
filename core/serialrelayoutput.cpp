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
    m_line.setWritesConfirmedHandler([this] {
        writesAnswered();
        for (const QPointer<SerialRelayOutput> &sharer : std::as_const(m_sharers)) {
            if (sharer)
                sharer->writesAnswered();
        }
    });
}

void SerialRelayOutput::configure(StationSettings::RelayLine line, bool heartbeat)
{
    m_relayLine = line;
    m_heartbeat = heartbeat;
    applyLevelsAtOpen();
}

void SerialRelayOutput::applyLevelsAtOpen()
{
    // A relay on DTR, or a port shared with one, opens with RTS and DTR low;
    // a lone relay on RTS leaves DTR to the platform.
    const bool dtrLow = m_relayLine == StationSettings::RelayLine::Dtr || !m_sharers.isEmpty();
    m_line.setLevelsAtOpen(false, dtrLow ? std::optional<bool>(false) : std::nullopt);
}

void SerialRelayOutput::shareLineOf(SerialRelayOutput *owner)
{
    if (owner == m_owner)
        return;
    if (m_owner) {
        m_owner->m_sharers.removeAll(this);
        m_owner->applyLevelsAtOpen();
        disconnect(m_owner, nullptr, this, nullptr);
    }
    m_owner = owner;
    m_high = m_awaitingAnswer = false;
    if (!owner)
        return;
    owner->m_sharers.append(this);
    owner->applyLevelsAtOpen();
    // One adapter: it is ready, fails and is lost as its owner is.
    connect(owner, &KeyedOutput::ready, this, [this] {
        if (m_refusal.isEmpty())
            adoptOpenLine();
    });
    connect(owner, &KeyedOutput::lost, this, [this] {
        m_high = m_awaitingAnswer = false;
        emit lost();
    });
    connect(owner, &KeyedOutput::stateChanged, this, &KeyedOutput::stateChanged);
}

void SerialRelayOutput::refuse(const QString &why)
{
    if (why == m_refusal)
        return;
    m_refusal = why;
    emit stateChanged();
    // Told once per clash, not at every open.
    if (!why.isEmpty())
        emit failed(why);
}

void SerialRelayOutput::open()
{
    if (!m_refusal.isEmpty())
        return;
    if (m_owner) {
        // The owner opens the port; its ready() brings this one.
        if (m_owner->isReady())
            adoptOpenLine();
        return;
    }
    if (m_line.isOpen()) {
        adoptOpenLine();
        return;
    }
    if (m_line.isOpening())
        return;
    m_supervisor.stop();
    m_high = m_awaitingAnswer = false;
    m_line.select(m_portNumber);
    // A remote relay whose server drops the lines of a silent connection
    // needs to hear from us while we are alive, after every reopen too.
    m_line.setHeartbeat(m_heartbeat);
    m_supervisor.openLater();
}

void SerialRelayOutput::close()
{
    drive(false);
    if (!m_owner)
        m_supervisor.stop();
    m_high = m_awaitingAnswer = false;
}

void SerialRelayOutput::abandon()
{
    if (activeLine().isOpen())
        failedWhileOpen();
}

void SerialRelayOutput::adoptOpenLine()
{
    if (!m_owner && m_supervisor.state() != PortSupervisor::State::Ready)
        m_supervisor.opened();
    // It opened released, whatever was asked while it was closed.
    m_high = m_awaitingAnswer = false;
    emit ready();
}

bool SerialRelayOutput::isReady() const
{
    if (!m_refusal.isEmpty())
        return false;
    if (m_owner)
        return m_owner->isReady();
    return m_line.isOpen() && m_supervisor.state() == PortSupervisor::State::Ready;
}

PortSupervisor::State SerialRelayOutput::state() const
{
    if (!m_refusal.isEmpty())
        return PortSupervisor::State::NotAvailable;
    return m_owner ? m_owner->state() : m_supervisor.state();
}

bool SerialRelayOutput::drive(bool keyed)
{
    SerialLine &line = activeLine();
    if (!line.isOpen() || !m_refusal.isEmpty()) {
        m_high = m_awaitingAnswer = false;
        if (!keyed)
            emit confirmed(false);
        return !keyed;
    }
    // Written on a change only: once per edge, not once per event that
    // confirms it. An answer still due confirms this level too.
    if (keyed == m_high) {
        if (!m_awaitingAnswer)
            emit confirmed(keyed);
        return true;
    }
    try {
        if (m_relayLine == StationSettings::RelayLine::Dtr) {
            // The relay on DTR: RTS stays low with it, unless RTS is another
            // relay's on the same adapter.
            if (!keyed && !m_owner && m_sharers.isEmpty())
                line.setRtsEnabled(false);
            line.setDtrEnabled(keyed);
        } else {
            line.setRtsEnabled(keyed);
        }
        m_high = keyed;
        if (line.confirmsWritesLater())
            m_awaitingAnswer = true;
        else
            emit confirmed(keyed);
        return true;
    } catch (const SerialLineError &) {
        failedWhileOpen();
        return false;
    }
}

void SerialRelayOutput::writesAnswered()
{
    if (!m_awaitingAnswer)
        return;
    m_awaitingAnswer = false;
    emit confirmed(m_high);
}

void SerialRelayOutput::check()
{
    if (m_owner || !m_line.isOpen())
        return;
    try {
        m_line.ctsHolding();
    } catch (const SerialLineError &) {
        failedWhileOpen();
    }
}

void SerialRelayOutput::failedWhileOpen()
{
    if (m_owner) {
        // The adapter failed: its owner is lost, and this one with it.
        m_owner->failedWhileOpen();
        return;
    }
    // The relay no longer follows: it is opened again in the background,
    // released, and keys at the next press.
    m_high = m_awaitingAnswer = false;
    m_supervisor.lost();
    emit lost();
}

void SerialRelayOutput::reportFailure()
{
    if (m_failureMessage)
        emit failed(m_failureMessage(m_line.openFailureDetail()));
}
