#pragma once

#include <QString>

#include <memory>

// One serial port as the program uses it: only its modem-control lines, RTS
// driven and CTS sensed; never a data byte. Implemented by a local serial
// port and by a port on a network serial device server.
class SerialPortDevice
{
public:
    enum class Failure {
        None,
        OpenFailed, // absent, in use, or cannot be configured
        DeviceLost, // the port was open and its device went away (unplugged, link lost)
        Other,      // any other refusal of a line operation
    };

    virtual ~SerialPortDevice() = default;

    // Acquires the port at 9600 8N1 without handshaking and drives RTS to
    // `rts` straight away, so that whatever the platform does to RTS while
    // opening lasts as short a time as it can.
    virtual bool open(bool rts) = 0;
    // Releases the port. Safe to call on a port that is not open.
    virtual void close() = 0;
    virtual bool setRts(bool on) = 0;
    // Samples CTS. On failure returns false and leaves *holding alone.
    virtual bool readCts(bool *holding) = 0;

    // What the last failed call above failed with.
    virtual Failure failure() const = 0;
    virtual QString errorString() const = 0;
};

// Turns a port number ("Com1" to "Com9" in the window) into a device.
class SerialPortFactory
{
public:
    virtual ~SerialPortFactory() = default;

    // nullptr for a number that names no port.
    virtual std::unique_ptr<SerialPortDevice> create(int portNumber) = 0;
};
