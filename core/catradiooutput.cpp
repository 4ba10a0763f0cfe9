#include "core/catradiooutput.h"

CatRadioOutput::CatRadioOutput(QThread &hamlibThread, const RigAddress &address, QObject *parent)
    : KeyedOutput(parent)
    , m_address(address)
    , m_rig(hamlibThread)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &CatRadioOutput::retry);
    connect(&m_rig, &CatRig::opened, this, [this](bool ok, const QString &error) {
        if (m_state == PortSupervisor::State::Closed)
            return;
        if (!ok) {
            failed(error, false);
            return;
        }
        m_retries = 0;
        m_failureTold = false;
        m_keyed = false;
        setState(PortSupervisor::State::Ready);
        emit ready();
    });
    connect(&m_rig, &CatRig::lost, this, [this](const QString &error) { failed(error, true); });
    // PTT that reads back otherwise than it was set is a rig that does not
    // follow: it must not count as keyed or released on our word alone.
    connect(&m_rig, &CatRig::pttSet, this, [this](bool on, bool confirmed) {
        if (!confirmed && m_state == PortSupervisor::State::Ready) {
            m_rig.close();
            failed(QStringLiteral("PTT reads back %1 after it was set %2")
                       .arg(on ? QStringLiteral("off") : QStringLiteral("on"), on ? QStringLiteral("on") : QStringLiteral("off")),
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
    m_keyed = false;
    m_rig.close();
    setState(PortSupervisor::State::Closed);
}

bool CatRadioOutput::drive(bool keyed)
{
    if (!isReady()) {
        m_keyed = false;
        return !keyed;
    }
    if (keyed != m_keyed) {
        m_keyed = keyed;
        m_rig.setPtt(keyed);
    }
    return true;
}

void CatRadioOutput::failed(const QString &error, bool wasReady)
{
    m_keyed = false;
    setState(wasReady ? PortSupervisor::State::Lost : PortSupervisor::State::NotAvailable);
    m_retry.start(RetryMs);
    if (wasReady)
        emit lost();
    if (!m_failureTold) {
        m_failureTold = true;
        emit KeyedOutput::failed(QStringLiteral("The radio by CAT (%1) is not available.\n\n%2")
                                     .arg(m_address.hamlibPathname(), error));
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
