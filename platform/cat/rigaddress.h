#pragma once

#include <QString>

// A radio keyed through its CAT interface by Hamlib, the field's rig control
// library: either a rig model on a serial device, or a rigctld daemon
// (Hamlib's network model) at HOST:PORT.
struct RigAddress
{
    static constexpr int dummyModel = 1;    // Hamlib's dummy rig
    static constexpr int rigctldModel = 2;  // Hamlib's network rig: rigctld
    static constexpr int defaultRigctldPort = 4532;

    int model = rigctldModel;
    // A serial device for a rig model, HOST:PORT (or HOST) for rigctld.
    QString port;
    int baud = 0; // 0: the model's default

    // "localhost:4532" for "localhost": rigctld's port when none is given.
    QString hamlibPathname() const;

    bool operator==(const RigAddress &) const = default;
};

// One entry of Hamlib's own list of rig models, for choosing one.
struct RigModel
{
    int model = 0;
    QString manufacturer;
    QString name;
};
