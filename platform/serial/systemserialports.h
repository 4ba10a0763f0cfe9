#pragma once

#include "platform/net/closingconnections.h"
#include "platform/net/networkserialport.h"
#include "platform/serial/serialportdevice.h"

// What the settings say each port number stands for, already judged by the
// program's rules for stored values (which live above this layer, with the
// settings model): this layer takes a mapping as given and never guesses.
class PortMappings
{
public:
    struct Mapping
    {
        // The device path or network address; for a refused mapping the
        // text as stored, so that the user can recognise it.
        QString location;
        // Why the mapping cannot be used, naming the value; empty when usable.
        QString refusal;
    };
    struct Tls
    {
        NetworkSerialPort::TlsFiles files;
        // Why a path in group "Tls" cannot be used, naming it; empty when all can.
        QString refusal;
    };

    virtual ~PortMappings() = default;
    // Read afresh each time, so that an edited mapping is used at the next open.
    virtual Mapping mapping(int portNumber) const = 0;
    virtual Tls tls() const = 0;
};

// Maps port numbers 1 to 9 to devices. Without a mapping, number n is the
// platform's n-th serial port (COMn; /dev/ttyS<n-1> on Linux). A refused
// mapping gives a port that is never available, with the reason. Every
// rfc2217+tls:// port uses the TLS files, which must be readable by
// readTlsFile() before a connection is tried.
// Closed network ports leave their connections here to end on the event
// loop.
class SystemSerialPorts : public SerialPortFactory
{
public:
    explicit SystemSerialPorts(const PortMappings &mappings);

    std::unique_ptr<SerialPortDevice> create(int portNumber) override;

    // The device (or network address) that a port number stands for; empty
    // for a number outside 1 to 9.
    QString location(int portNumber) const override;
    // The platform's own port for a number without a mapping.
    static QString builtInLocation(int portNumber);

    // Lets the connections of closed network ports end, in a local event
    // loop, for at most `maxMs`: for the end of the program, after its own
    // event loop, so that a remote relay hears its release. True when all
    // have ended.
    bool finishClosing(int maxMs);

private:
    std::unique_ptr<SerialPortDevice> createNetworkPort(const QString &address);

    const PortMappings &m_mappings;
    ClosingConnections m_closing;
};
