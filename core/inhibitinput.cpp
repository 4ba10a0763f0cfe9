#include "core/inhibitinput.h"

#include "core/portmessages.h"
#include "core/relaysettings.h"

InhibitInput::InhibitInput(SerialPortFactory &ports, QObject *parent)
    : QObject(parent)
    , m_ports(ports)
{
}

void InhibitInput::configure(const SequenceSettings::Inhibit &settings)
{
    close();
    m_supervisor.reset();
    m_line.reset();
    m_settings = settings;
}

void InhibitInput::open(const QString &footswitchPort)
{
    if (!m_settings.enabled || m_settings.port == footswitchPort)
        return;
    const std::optional<qint16> number = RelaySettings::portNumber(m_settings.port);
    if (!number)
        return;
    if (!m_line) {
        m_line = std::make_unique<SerialLine>(m_ports);
        m_supervisor = std::make_unique<PortSupervisor>(*m_line);
        // Fed like the footswitch: an interlock contact needs a supply too.
        m_line->setLevelsAtOpen(true, true);
        m_line->setLineChangeHandler([this] { emit changed(); });
        connect(m_supervisor.get(), &PortSupervisor::reopened, this, [this] {
            m_supervisor->opened();
            emit changed();
        });
        connect(m_supervisor.get(), &PortSupervisor::newFailure, this, [this] {
            emit failed(PortMessages::inputNotAvailable(
                m_settings.port, m_line->openFailureDetail()));
        }, Qt::QueuedConnection);
    }
    if (m_line->isOpen() || m_line->isOpening())
        return;
    m_line->select(*number);
    m_line->setHeartbeat(false);
    m_supervisor->openLater();
}

void InhibitInput::close()
{
    if (m_supervisor)
        m_supervisor->stop();
}

bool InhibitInput::read(SerialLine &footswitchLine, const PortSupervisor &footswitchSupervisor)
{
    if (!m_settings.enabled)
        return false;
    SerialLine &line = m_line ? *m_line : footswitchLine;
    const PortSupervisor &supervisor = m_supervisor ? *m_supervisor : footswitchSupervisor;
    if (!line.isOpen())
        return supervisor.state() != PortSupervisor::State::Closed;
    try {
        return line.lineHolding(m_settings.line) != m_settings.inverted;
    } catch (const SerialLineError &) {
        // The footswitch's own read finds its port's failure; our own port
        // is tried again here.
        if (m_supervisor)
            m_supervisor->lost();
        return true;
    }
}
