#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// One serial port as the program uses it: only its modem-control lines, RTS
// (or DTR) driven and CTS (or DSR, DCD, RI) sensed; never a data byte, apart
// from a network port's heartbeat. Implemented by a local serial port and by
// a port on a network serial device server.
class SerialPortDevice
{
public:
    enum class Failure {
        None,
        OpenFailed, // absent, in use, or cannot be configured
        PermissionDenied, // present, but this user may not open it
        DeviceLost, // the port was open and its device went away (unplugged, link lost)
        Other,      // any other refusal of a line operation
    };

    // The input lines a footswitch can be wired to.
    enum class InputLine { Cts, Dsr, Dcd, Ri };

    // What a fatal-signal handler needs to drop the relay line of this port
    // without any help from the rest of the program: a descriptor and what
    // to do with it. Kind::None where the port has nothing to offer (closed,
    // or a link that only closing can release).
    struct CrashRelease
    {
        enum class Kind { None, ModemLines, SocketBytes, SocketShutdown };
        Kind kind = Kind::None;
        int descriptor = -1;
        QByteArray bytes; // SocketBytes: what lowers the lines at the far end
    };

    // The modem-control levels an open puts on the port. DTR empty: left as
    // the platform leaves it (Linux raises it), for a port where DTR is not
    // the relay line.
    struct OpenLevels
    {
        bool rts = false;
        std::optional<bool> dtr;
    };

    virtual ~SerialPortDevice() = default;

    // Acquires the port at 9600 8N1 without handshaking and drives RTS (and
    // DTR, when given) to their levels straight away, as part of the open:
    // whatever the platform does to them while opening lasts as short a time
    // as it can, and a relay on either line is never keyed by a reopen. May
    // wait, but never longer than a network port's bounded open.
    virtual bool open(const OpenLevels &levels) = 0;
    // DTR left to the platform.
    bool open(bool rts) { return open(OpenLevels{rts, std::nullopt}); }
    // Opens without ever waiting on the caller's thread: `done` runs later on
    // this thread with the result (or at once, for a port whose open never
    // waits). Never runs after close() or the device's destruction.
    virtual void openInBackground(const OpenLevels &levels, std::function<void(bool opened)> done)
    {
        done(open(levels));
    }
    void openInBackground(bool rts, std::function<void(bool opened)> done)
    {
        openInBackground(OpenLevels{rts, std::nullopt}, std::move(done));
    }
    // Releases the port (and stops a background open). Safe to call on a
    // port that is not open.
    virtual void close() = 0;
    virtual bool setRts(bool on) = 0;
    virtual bool setDtr(bool on) = 0;
    // Samples CTS. On failure returns false and leaves *holding alone.
    virtual bool readCts(bool *holding) { return readLine(InputLine::Cts, holding); }
    // Samples one input line. On failure returns false and leaves *asserted alone.
    virtual bool readLine(InputLine line, bool *asserted) = 0;

    // Whether this open port tells of input-line changes by itself (then
    // `handler` runs on this thread soon after a change), rather than only
    // being polled. Decided at open from what the device can do.
    virtual bool reportsLineChanges() const { return false; }
    virtual void setLineChangeHandler(std::function<void()> handler) { (void)handler; }

    // When a write of RTS or DTR counts as done. False: when setRts() or
    // setDtr() returned true (a local port reads the line back inside them).
    // True: once the far end has answered; `handler` then runs on this
    // thread, after the call, each time every write so far is answered.
    virtual bool confirmsWritesLater() const { return false; }
    virtual void setWritesConfirmedHandler(std::function<void()> handler) { (void)handler; }

    // Whether the port, while open, shows the far end that this program is
    // still alive, so that a device server can drop the relay line of a
    // client that vanished. Only network ports do anything with it.
    virtual void setHeartbeat(bool on) { (void)on; }

    virtual CrashRelease crashRelease() const { return {}; }

    // Who the far end proved to be at the last open: the subject, issuer and
    // fingerprint of a TLS server's certificate, for the user to check by
    // eye. Empty for a port without such a proof (local, plain network).
    virtual QString peerCertificateSummary() const { return {}; }

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
    // The device path or network address a number stands for, as the user
    // would recognise it; empty where the factory cannot say.
    virtual QString location(int portNumber) const { (void)portNumber; return {}; }
};
