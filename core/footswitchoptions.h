#pragma once

#include "core/stationsettings.h"
#include "platform/serial/serialportdevice.h"

class SettingsStore;

// How the footswitch and the relay are wired, and how long the transmitter
// may stay keyed: read from the settings at each activation, so that a
// change in the settings window takes effect on the return from it.
struct FootswitchOptions
{
    SerialPortDevice::InputLine line = SerialPortDevice::InputLine::Cts;
    bool inverted = false;
    int debounceMs = StationSettings::defaultFootswitchDebounceMs;
    StationSettings::RelayLine relayLine = StationSettings::RelayLine::Rts;
    int txTimeoutSeconds = 0;
    int txTimeoutWarningSeconds = StationSettings::defaultTxTimeoutWarningSeconds;

    static FootswitchOptions load(const SettingsStore &settings);
};
