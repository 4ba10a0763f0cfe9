#include "core/portsupervisor.h"

#include "core/serialline.h"
#include "platform/net/networkaddress.h"

#include <algorithm>

PortSupervisor::PortSupervisor(SerialLine &line, QObject *parent)
    : QObject(parent)
    , m_line(line)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &PortSupervisor::retry);
}

int PortSupervisor::retryDelayMs(bool networkPort, int retry)
{
    if (!networkPort)
        return LocalRetryMs;
    // 1, 2, 4, 8, 16, then 30 s.
    const int doublings = std::clamp(retry - 1, 0, 5);
    return std::min(NetworkFirstRetryMs << doublings, NetworkMaxRetryMs);
}

bool PortSupervisor::isNetworkPort() const
{
    return NetworkAddress::isNetworkAddress(m_line.location());
}

void PortSupervisor::opened()
{
    m_retryTimer.stop();
    m_retries = 0;
    m_failureReported = false;
    setState(State::Ready);
}

PortSupervisor::State PortSupervisor::failedState() const
{
    return m_line.lastOpenDenied() ? State::NoPermission : State::NotAvailable;
}

void PortSupervisor::openFailed(bool toldUser)
{
    setState(failedState());
    beginFailure(toldUser);
}

void PortSupervisor::lost(bool toldUser)
{
    m_line.close();
    setState(State::Lost);
    beginFailure(toldUser);
}

void PortSupervisor::beginFailure(bool toldUser)
{
    const bool isNew = !m_failureReported && !toldUser;
    m_failureReported = true;
    m_retries = 0;
    scheduleRetry();
    if (isNew)
        emit newFailure();
}

void PortSupervisor::openLater()
{
    m_retryTimer.stop();
    setState(State::Connecting);
    retry();
}

void PortSupervisor::stop()
{
    m_retryTimer.stop();
    m_line.close();
    m_retries = 0;
    m_failureReported = false;
    setState(State::Closed);
}

int PortSupervisor::nextRetryInMs() const
{
    return m_retryTimer.isActive() ? m_retryTimer.remainingTime() : -1;
}

void PortSupervisor::scheduleRetry()
{
    m_retryTimer.start(retryDelayMs(isNetworkPort(), m_retries + 1));
}

void PortSupervisor::retry()
{
    m_retryTimer.stop();
    if (m_state == State::Closed || m_state == State::Ready || m_line.isOpening())
        return;
    if (m_line.isOpen()) {
        opened();
        emit reopened();
        return;
    }
    if (m_state != State::Connecting)
        ++m_retries;
    try {
        m_line.openInBackground([this](bool opened) { backgroundOpenFinished(opened); });
    } catch (const SerialLineError &) {
        backgroundOpenFinished(false);
    }
    // Show the attempt in the state line.
    emit stateChanged(m_state);
}

void PortSupervisor::backgroundOpenFinished(bool opened)
{
    if (m_state == State::Closed)
        return;
    if (opened) {
        this->opened();
        emit reopened();
        return;
    }
    if (m_state == State::Connecting) {
        openFailed();
    } else {
        // A device that turns up but refuses this user (or goes from that
        // to gone) shows it; the refusal is news, the user must act on it.
        const State failed = failedState();
        if (failed != m_state && (failed == State::NoPermission || m_state == State::NoPermission)) {
            m_state = failed;
            if (failed == State::NoPermission)
                emit newFailure();
        }
        scheduleRetry();
    }
    emit stateChanged(m_state);
}

void PortSupervisor::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(m_state);
}
