#pragma once

#include "core/stationsettings.h"
#include "platform/cat/rigaddress.h"
#include "platform/serial/serialportdevice.h"

#include <QList>
#include <QString>

#include <optional>

class SettingsStore;

// The outputs keyed after the first, in order, and the inhibit input. Output
// 1 is the "Com Port Out" port with its "Relay-Line", as it always was; a
// file without these keys has no other output, no times and no inhibit, and
// behaves as before.
//
// Group "Sequence":
//   Output1-Lead, Output1-Tail        ms, 0 to 5000, for output 1
//   Output<n>-Kind                    "Serial" or "CAT", n = 2..4; the first
//                                     n without a kind ends the list
//   Output<n>-Lead, Output<n>-Tail    ms, 0 to 5000
//   Output<n>-Port, Output<n>-Line    a serial output: "1".."9", "RTS"/"DTR"
//   Output<n>-Rig-Model               a CAT output: Hamlib's model number
//   Output<n>-Rig-Port                the rig's serial device, or rigctld's
//                                     HOST[:PORT] for model 2
//   Output<n>-Rig-Baud                0 for the model's default
// Group "Settings":
//   Inhibit-Line                      "Off" (the default), "CTS", "DSR",
//                                     "DCD" or "RI"
//   Inhibit-Port                      "1".."9": the input port it is read on
//   Inhibit-Inverted                  "1": active when the line is low
namespace SequenceSettings {

inline const QString group = QStringLiteral("Sequence");
inline const QString inhibitLineKey = QStringLiteral("Inhibit-Line");
inline const QString inhibitPortKey = QStringLiteral("Inhibit-Port");
inline const QString inhibitInvertedKey = QStringLiteral("Inhibit-Inverted");

inline constexpr int maxOutputs = 4;
inline constexpr int maxTimingMs = 5000;

struct Output
{
    enum class Kind { Serial, Cat };

    Kind kind = Kind::Serial;
    int leadMs = 0;
    int tailMs = 0;
    // A serial output.
    QString port = QStringLiteral("1");
    StationSettings::RelayLine line = StationSettings::RelayLine::Rts;
    // A CAT output.
    RigAddress rig;

    bool operator==(const Output &) const = default;
};

struct Inhibit
{
    bool enabled = false;
    QString port = QStringLiteral("1");
    SerialPortDevice::InputLine line = SerialPortDevice::InputLine::Cts;
    bool inverted = false;

    bool operator==(const Inhibit &) const = default;
};

struct Sequence
{
    // Output 1's times; its port and line are the ports' and keying settings.
    int firstLeadMs = 0;
    int firstTailMs = 0;
    // Outputs 2 to maxOutputs, in order.
    QList<Output> more;
    Inhibit inhibit;

    bool operator==(const Sequence &) const = default;
};

// What the file holds; values it cannot use read as their defaults, and an
// output that cannot be used (a CAT output with no rig port, a rig port that
// is a list) ends the list there, so that a half-written output never keys.
Sequence load(const SettingsStore &settings);
// Writes every key, and removes those of outputs no longer there.
void save(SettingsStore &settings, const Sequence &sequence);

// Why a CAT output's rig port cannot be used, for the user; nothing when it
// can. rigctld (model 2) takes HOST or HOST:PORT, any other model a device.
std::optional<QString> rigPortError(const RigAddress &rig);

// Why a serial output cannot be used where it is: the footswitch's port, or
// the port of an inhibit read on a port of its own, raises RTS and DTR as
// the contact's supply, which would key a relay there. Empty when it can.
std::optional<QString> supplyClash(const Output &output, const QString &footswitchPort, const Inhibit &inhibit);

// "Serial" / "CAT" and back; nothing for any other text.
QString kindText(Output::Kind kind);
std::optional<Output::Kind> kind(const QString &text);

} // namespace SequenceSettings
