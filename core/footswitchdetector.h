#pragma once

#include "platform/serial/serialportdevice.h"

#include <QList>
#include <QString>

#include <array>

// Finds the input line a footswitch moves, and which way, from the four
// input lines read while the user pressed and released it a few times. Pure
// logic on the caller's clock (milliseconds): the caller adds each read as
// it comes and asks for the result at the end.
//
// A line counts once it has changed at least twice (a press and a release)
// after debouncing: a level that held for less than bounceMs is contact
// bounce or a spike, not a change. The level it rests at is the level it had
// at the start and the end, or, when those differ, the one it held longer.
// High at rest is a normally closed switch: it opens (the line goes low)
// when pressed, which the settings call "inverted".
class FootswitchDetector
{
public:
    using InputLine = SerialPortDevice::InputLine;
    // CTS, DSR, DCD, RI: indexed by InputLine, true for high (asserted).
    using Levels = std::array<bool, 4>;

    enum class Outcome {
        Found,
        NothingChanged, // no line changed twice
        SeveralLines,   // more than one did: a short or a wiring fault
    };

    struct Result
    {
        Outcome outcome = Outcome::NothingChanged;
        InputLine line = InputLine::Cts;
        bool inverted = false;
        // What was seen and what it means, for the user.
        QString sentence;
    };

    static constexpr int defaultBounceMs = 10;

    explicit FootswitchDetector(int bounceMs = defaultBounceMs);

    // One read of the four lines at `ms`; reads come in time order.
    void add(qint64 ms, const Levels &levels);
    void clear() { m_samples.clear(); }

    Result result() const;

private:
    struct Sample
    {
        qint64 ms = 0;
        Levels levels{};
    };
    struct LineHistory
    {
        int changes = 0;
        bool restsHigh = false;
    };
    LineHistory history(int line) const;

    int m_bounceMs = defaultBounceMs;
    QList<Sample> m_samples;
};
