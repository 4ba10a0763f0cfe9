#pragma once

#include <QString>

#include <memory>
#include <stdexcept>

class SerialPortDevice;
class SerialPortFactory;

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
    // Drives RTS low and releases the port. No effect on a closed port.
    void close();
    bool isOpen() const { return m_device != nullptr; }

    // Recorded always; applied at once on an open port, else at the next open.
    void setRtsEnabled(bool enabled);
    bool rtsEnabled() const { return m_rtsEnabled; }

    // Never answers "not asserted" for a read that failed.
    bool ctsHolding();

private:
    [[noreturn]] void raiseLineFailure(const char *operation);

    SerialPortFactory &m_ports;
    qint16 m_portNumber = 1;
    bool m_rtsEnabled = false;
    std::unique_ptr<SerialPortDevice> m_device;
};
