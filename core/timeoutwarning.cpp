#include "core/timeoutwarning.h"

#include "core/keyingengine.h"
#include "core/transmittimeout.h"

#include <algorithm>

TimeoutWarning::TimeoutWarning(SoundAlert &sound, QObject *parent)
    : QObject(parent)
    , m_sound(sound)
{
    m_monotonic.start();
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(TickMs);
    connect(&m_tick, &QTimer::timeout, this, &TimeoutWarning::poll);
}

void TimeoutWarning::follow(const KeyingEngine &engine)
{
    connect(&engine, &KeyingEngine::stateChanged, this,
            [this, &engine](KeyingEngine::State state, KeyingEngine::Cause cause) {
                // The engine says "keyed" again at every press or Tx, and
                // times the transmission afresh each time; so does this.
                if (KeyingEngine::isKeyed(state))
                    keyed(engine.options().txTimeoutSeconds, engine.options().txTimeoutWarningSeconds);
                else if (cause == KeyingEngine::Cause::Timeout)
                    timedOut();
                else
                    released();
            });
}

void TimeoutWarning::keyed(int timeoutSeconds, int warningSeconds)
{
    released();
    if (timeoutSeconds <= 0)
        return;
    const qint64 now = m_clock();
    m_deadlineMs = now + qint64(timeoutSeconds) * 1000;
    // A warning longer than the time-out warns from the start.
    if (warningSeconds > 0)
        m_nextWarningMs = std::max(now, *m_deadlineMs - qint64(warningSeconds) * 1000);
    m_warningSeconds = std::max(warningSeconds, 0);
    m_countdownMs = qint64(std::max(warningSeconds, TransmitTimeout::countdownSeconds)) * 1000;
    m_tick.start();
    poll();
}

void TimeoutWarning::released()
{
    m_tick.stop();
    m_deadlineMs.reset();
    m_nextWarningMs.reset();
    showCountdown(0);
}

void TimeoutWarning::timedOut()
{
    // A warning switched off silences the time-out's own sound too.
    const bool sounding = m_deadlineMs.has_value() && m_warningSeconds > 0;
    released();
    if (sounding)
        m_sound.play(SoundAlert::Sound::TimedOut);
}

void TimeoutWarning::poll()
{
    if (!m_deadlineMs)
        return;
    const qint64 now = m_clock();
    // The end itself is the engine's: its release says timedOut().
    if (now >= *m_deadlineMs) {
        showCountdown(0);
        return;
    }
    showCountdown(secondsLeft().value_or(0));
    if (m_nextWarningMs && now >= *m_nextWarningMs) {
        // One sound for a late tick, not one for every beat it missed.
        while (*m_nextWarningMs <= now)
            *m_nextWarningMs += RepeatMs;
        m_sound.play(SoundAlert::Sound::Warning);
        emit warned(int((*m_deadlineMs - now + 999) / 1000));
    }
}

std::optional<int> TimeoutWarning::secondsLeft() const
{
    if (!m_deadlineMs)
        return std::nullopt;
    const qint64 leftMs = *m_deadlineMs - m_clock();
    if (leftMs <= 0 || leftMs > m_countdownMs)
        return std::nullopt;
    return int((leftMs + 999) / 1000);
}

void TimeoutWarning::showCountdown(int secondsLeft)
{
    if (secondsLeft == m_shown)
        return;
    m_shown = secondsLeft;
    emit countdownChanged(secondsLeft);
}
