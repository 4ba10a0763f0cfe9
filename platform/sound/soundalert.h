#pragma once

// A short sound for the operator, who may be looking at the radio rather
// than the screen. Playing returns at once and never fails where the caller
// can see it: a machine without sound stays silent.
class SoundAlert
{
public:
    enum class Sound {
        Warning,  // the transmit time-out is near
        TimedOut, // the time-out has released the transmitter
    };

    virtual ~SoundAlert() = default;
    virtual void play(Sound sound) = 0;
};
