#include "core/catradiooutput.h"

CatRadioOutput::CatRadioOutput(QThread &hamlibThread, const RigAddress &address, QObject *parent)
    : KeyedOutput(parent)
    , m_address(address)
    , m_rig(hamlibThread)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &CatRadioOutput::retry);
    m_watch.setInterval(WatchIdleMs);
    connect(&m_watch, &QTimer::timeout, this, &CatRadioOutput::watch);
    connect(&m_rig, &CatRig::opened, this, [this](bool ok, const QString &error) {
        if (m_state == PortSupervisor::State::Closed)
            return;
        if (!ok) {
            failed(error, false);
            return;
        }
        // The open set PTT off and read it back.
        m_retries = 0;
        m_failureTold = false;
        m_keyed = m_mayTransmit = false;
        setState(PortSupervisor::State::Ready);
        m_watch.start();
        emit ready();
    });
    connect(&m_rig, &CatRig::lost, this, [this](const QString &error) { failed(error, true); });
    connect(&m_rig, &CatRig::pttSet, this, [this](bool on) {
        if (on != m_keyed)
            return; // a step asked since is on its way
        m_mayTransmit = on;
        emit confirmed(on);
    });
    connect(&m_rig, &CatRig::pttRead, this, [this](bool known, bool on) {
        // A radio that dropped PTT on its own (its own time-out) or keyed
        // without us no longer follows the chain.
        if (known && on != m_keyed && !m_rig.isBusy()) {
            m_rig.close();
            failed(QStringLiteral("PTT reads back %1 after it was set %2")
                       .arg(on ? QStringLiteral("on") : QStringLiteral("off"),
                            m_keyed ? QStringLiteral("on") : QStringLiteral("off")),
                   true);
        }
    });
}

QString CatRadioOutput::location() const
{
    return QStringLiteral("CAT %1").arg(m_address.hamlibPathname());
}

void CatRadioOutput::open()
{
    if (m_state != PortSupervisor::State::Closed)
        return;
    m_retries = 0;
    m_failureTold = false;
    setState(PortSupervisor::State::Connecting);
    m_rig.open(m_address);
}

void CatRadioOutput::close()
{
    // The rig is released before it is closed (on the Hamlib thread).
    m_retry.stop();
    m_watch.stop();
    m_keyed = m_mayTransmit = false;
    m_rig.close();
    setState(PortSupervisor::State::Closed);
}

bool CatRadioOutput::drive(bool keyed)
{
    if (!isReady()) {
        m_keyed = false;
        if (!keyed)
            emit confirmed(false);
        return !keyed;
    }
    m_keyed = keyed;
    m_mayTransmit = m_mayTransmit || keyed;
    // Asked even when it seems where it should be: the answer is the
    // confirmation, and a request supersedes a watch's read in flight.
    m_rig.setPtt(keyed);
    return true;
}

void CatRadioOutput::abandon()
{
    if (!isReady())
        return;
    m_rig.close();
    failed(QStringLiteral("no answer within %1 s").arg(confirmBoundMs() / 1000.0), true);
}

void CatRadioOutput::setChainActive(bool active)
{
    const int interval = active ? WatchActiveMs : WatchIdleMs;
    if (interval == m_watch.interval())
        return;
    m_watch.setInterval(interval);
    if (m_watch.isActive())
        m_watch.start();
}

void CatRadioOutput::watch()
{
    // Never between a command and its answer: that answer says all a read
    // would.
    if (isReady() && !m_rig.isBusy())
        m_rig.readPtt();
}

void CatRadioOutput::failed(const QString &error, bool wasReady)
{
    const bool mayTransmit = m_mayTransmit;
    m_keyed = m_mayTransmit = false;
    m_watch.stop();
    setState(wasReady ? PortSupervisor::State::Lost : PortSupervisor::State::NotAvailable);
    m_retry.start(RetryMs);
    if (wasReady)
        emit lost();
    if (!m_failureTold) {
        m_failureTold = true;
        QString message = QStringLiteral("The radio by CAT (%1) is not available: %2.")
                              .arg(m_address.hamlibPathname(), error);
        if (mayTransmit)
            message += QStringLiteral("\n\nIt may still be transmitting: its release is sent again at every retry.");
        emit KeyedOutput::failed(message);
    }
}

void CatRadioOutput::retry()
{
    if (m_state == PortSupervisor::State::Closed || m_state == PortSupervisor::State::Ready)
        return;
    ++m_retries;
    emit stateChanged();
    m_rig.open(m_address);
}

void CatRadioOutput::setState(PortSupervisor::State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}
