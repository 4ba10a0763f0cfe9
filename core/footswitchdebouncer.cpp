#include "core/footswitchdebouncer.h"

#include <algorithm>

FootswitchDebouncer::FootswitchDebouncer(int debounceMs)
    : m_debounceMs(std::clamp(debounceMs, 0, maximumDebounceMs))
{
}

void FootswitchDebouncer::reset(bool level)
{
    m_level = level;
    m_differingSinceMs.reset();
}

bool FootswitchDebouncer::sample(bool raw, qint64 nowMs)
{
    if (raw == m_level) {
        // Back where it was before it held long enough: a glitch, or bounce.
        m_differingSinceMs.reset();
        return false;
    }
    if (!m_differingSinceMs)
        m_differingSinceMs = nowMs;
    if (nowMs - *m_differingSinceMs < m_debounceMs)
        return false;
    m_level = raw;
    m_differingSinceMs.reset();
    return true;
}

std::optional<qint64> FootswitchDebouncer::recheckAtMs() const
{
    if (!m_differingSinceMs)
        return std::nullopt;
    return *m_differingSinceMs + m_debounceMs;
}
