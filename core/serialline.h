#pragma once

#include "core/portmessages.h"
#include "platform/serial/serialportdevice.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>


class SerialLineError : public std::runtime_error
{
public:
    enum class Kind {
        PortOpen,    // select() while the port is open, open() twice
        NotOpen,     // a line read on a closed port
        OpenFailed,  // absent, in use, or cannot be configured
        DeviceLost,  // the open port's device went away; the line is closed now
        LineFailed,  // any other refusal of a line operation
    };

    SerialLineError(Kind kind, const QString &description);

    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// The serial line object: one port, used only for its modem-control lines.
// Failures are raised to the caller as SerialLineError; the object never
// swallows one.
class SerialLine
{
public:
    explicit SerialLine(SerialPortFactory &ports);
    ~SerialLine();

    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    // Refused while the port is open.
    void select(qint16 portNumber);
    qint16 portNumber() const { return m_portNumber; }

    void open();
    // Opens without waiting on this thread; `done` runs later, from the event
    // loop, with the result. A close() before then cancels the open and
    // `done` never runs. Refused while the port is open or opening.
    void openInBackground(std::function<void(bool opened)> done);
    bool isOpening() const { return m_opening != nullptr; }
    // Drives RTS (and DTR, where this line drives it) low and releases the
    // port. No effect on a closed port; cancels an open in the background.
    void close();
    bool isOpen() const { return m_device != nullptr; }

    // Where the selected number leads (a device path or a network address).
    QString location() const;

    // The levels every open starts from, whatever was set while the port was
    // closed: a relay output opens released, a footswitch input supplied.
    // DTR empty: left to the platform (Linux raises it on open). Until this
    // is called, an open applies what was last set.
    void setLevelsAtOpen(bool rts, std::optional<bool> dtr);

    // Recorded always; applied at once on an open port. On a closed port the
    // next open applies the levels at open instead.
    void setRtsEnabled(bool enabled);
    bool rtsEnabled() const { return m_rtsEnabled; }
    // The same for DTR. Until it is first set the line leaves DTR to the
    // platform (Linux raises it on open).
    void setDtrEnabled(bool enabled);
    std::optional<bool> dtrEnabled() const { return m_dtrEnabled; }
    // Whether a network port sends its keep-alive byte; applied at each open.
    void setHeartbeat(bool on) { m_heartbeat = on; }

    // Never answers "not asserted" for a read that failed.
    bool ctsHolding();
    bool lineHolding(SerialPortDevice::InputLine line);

    // Whether the open port tells of line changes by itself, and who to tell
    // when it does. The handler is kept across opens.
    bool reportsLineChanges() const;
    void setLineChangeHandler(std::function<void()> handler);

    // Whether a write of RTS or DTR is done only once the far end answers
    // (then the handler runs, kept across opens), or when the call returns.
    bool confirmsWritesLater() const;
    void setWritesConfirmedHandler(std::function<void()> handler);

    // Why the last open failed, for the user.
    QString lastOpenError() const { return m_lastOpenError; }
    // The device (as mapped) and why it could not be used, for a message.
    QString openFailureDetail() const { return PortMessages::openFailureDetail(location(), m_lastOpenError); }
    // Whether it failed because this user may not open the device.
    bool lastOpenDenied() const { return m_lastOpenDenied; }

    // What a fatal-signal handler needs to drop this line's outputs.
    SerialPortDevice::CrashRelease crashRelease() const;

    // The TLS server certificate of the open port, summarised; empty for a
    // closed port or one without TLS.
    QString peerCertificateSummary() const;

private:
    [[noreturn]] void raiseLineFailure(const char *operation);
    void closeDevice();
    std::unique_ptr<SerialPortDevice> createDevice();
    void applyLevelsAtOpen();
    bool adopt(std::unique_ptr<SerialPortDevice> device);
    void noteOpenFailure(const SerialPortDevice &device);

    SerialPortFactory &m_ports;
    qint16 m_portNumber = 1;
    bool m_rtsEnabled = false;
    std::optional<bool> m_dtrEnabled;
    struct LevelsAtOpen
    {
        bool rts = false;
        std::optional<bool> dtr;
    };
    std::optional<LevelsAtOpen> m_levelsAtOpen;
    QString m_lastOpenError;
    bool m_lastOpenDenied = false;
    bool m_heartbeat = false;
    std::function<void()> m_lineChangeHandler;
    std::function<void()> m_writesConfirmedHandler;
    std::unique_ptr<SerialPortDevice> m_device;
    std::unique_ptr<SerialPortDevice> m_opening;
    // Results of a background open come back through the event loop with
    // this as their context, so none arrives after the line is gone and the
    // device is never deleted from inside its own callback.
    std::unique_ptr<QObject> m_openContext;
};
