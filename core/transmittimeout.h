#pragma once

#include <QtGlobal>

#include <optional>

// Ends a transmission that has lasted too long, as a guard against a stuck
// footswitch or a forgotten "Tx": pure logic on the caller's clock
// (milliseconds), which releases the output when poll() says so. What the
// footswitch may do afterwards is the keying engine's business.
class TransmitTimeout
{
public:
    // The last seconds before the end, in which secondsLeft() counts down.
    static constexpr int countdownSeconds = 10;

    // 0 (or less): never ends a transmission.
    explicit TransmitTimeout(int seconds = 0);

    int seconds() const { return m_seconds; }
    bool isEnabled() const { return m_seconds > 0; }

    // The output was keyed: timing starts (again) now.
    void keyed(qint64 nowMs);
    // The output was released, for whatever reason: timing stops.
    void released();
    // True while a transmission is being timed.
    bool isRunning() const { return m_deadlineMs.has_value(); }
    // When the running transmission ends; empty when none is timed.
    std::optional<qint64> deadlineMs() const { return m_deadlineMs; }

    // Whether the time is up (and poll() has not yet said so).
    bool expired(qint64 nowMs) const;
    // True once, the first time it is called with the time up: the caller
    // releases the output then. Timing stops.
    bool poll(qint64 nowMs);

    // Whole seconds left, rounded up, in the last countdownSeconds of a timed
    // transmission; empty otherwise.
    std::optional<int> secondsLeft(qint64 nowMs) const;

private:
    int m_seconds = 0;
    std::optional<qint64> m_deadlineMs;
};
