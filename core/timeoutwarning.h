#pragma once

#include "platform/sound/soundalert.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class KeyingEngine;

// Tells the operator that the transmit time-out is coming before it drops
// the transmitter: from `warningSeconds` before the end a warning sound
// every RepeatMs until the end or a release, and another sound when the
// time-out releases. It also counts the last seconds down for a window or a
// console. It times a transmission on its own clock from the moment the
// engine keys, as the engine's time-out does, and never touches the output.
class TimeoutWarning : public QObject
{
    Q_OBJECT

public:
    static constexpr int RepeatMs = 2000;
    // How often the clock is looked at while a transmission is timed.
    static constexpr int TickMs = 100;

    explicit TimeoutWarning(SoundAlert &sound, QObject *parent = nullptr);

    // For tests: milliseconds on a clock that only goes forward.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    // Keyed (by the footswitch or Tx) starts the timing with the engine's
    // time-out and warning; any other state ends it, and an end by the
    // time-out sounds so.
    void follow(const KeyingEngine &engine);

    // A transmission began now (or began again). A time-out of 0 times
    // nothing; a warning of 0 counts down but sounds nothing, not even the
    // time-out.
    void keyed(int timeoutSeconds, int warningSeconds);
    void released();
    void timedOut();
    // Sounds what is due by now.
    void poll();

    // Whole seconds left, rounded up, in the countdown: the warning's span,
    // and at least the engine's last TransmitTimeout::countdownSeconds.
    std::optional<int> secondsLeft() const;

signals:
    // A warning sounded with this many seconds left.
    void warned(int secondsLeft);
    // The countdown shows another number; 0 when it ends.
    void countdownChanged(int secondsLeft);

private:
    void showCountdown(int secondsLeft);

    SoundAlert &m_sound;
    QElapsedTimer m_monotonic;
    std::function<qint64()> m_clock = [this] { return m_monotonic.elapsed(); };
    QTimer m_tick;
    std::optional<qint64> m_deadlineMs;
    std::optional<qint64> m_nextWarningMs;
    qint64 m_countdownMs = 0;
    int m_warningSeconds = 0;
    int m_shown = 0;
};
