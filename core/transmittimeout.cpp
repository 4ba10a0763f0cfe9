#include "core/transmittimeout.h"

#include <algorithm>

TransmitTimeout::TransmitTimeout(int seconds)
    : m_seconds(std::max(seconds, 0))
{
}

void TransmitTimeout::keyed(qint64 nowMs)
{
    if (isEnabled())
        m_deadlineMs = nowMs + qint64(m_seconds) * 1000;
}

void TransmitTimeout::released()
{
    m_deadlineMs.reset();
}

bool TransmitTimeout::expired(qint64 nowMs) const
{
    return m_deadlineMs && nowMs >= *m_deadlineMs;
}

bool TransmitTimeout::poll(qint64 nowMs)
{
    if (!expired(nowMs))
        return false;
    m_deadlineMs.reset();
    return true;
}

std::optional<int> TransmitTimeout::secondsLeft(qint64 nowMs) const
{
    if (!m_deadlineMs)
        return std::nullopt;
    const qint64 leftMs = *m_deadlineMs - nowMs;
    if (leftMs <= 0 || leftMs > qint64(countdownSeconds) * 1000)
        return std::nullopt;
    return int((leftMs + 999) / 1000);
}
