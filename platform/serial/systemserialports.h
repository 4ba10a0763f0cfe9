#pragma once

#include "platform/net/closingconnections.h"
#include "platform/net/networkserialport.h"
#include "platform/serial/serialportdevice.h"

// Maps port numbers 1 to 9 to devices. Each number can be remapped in the
// settings file, group "Ports", key "Com1" to "Com9"; without a mapping
// number n is the platform's n-th serial port (COMn; /dev/ttyS<n-1> on Linux).
// Every rfc2217+tls:// port uses the files of group "Tls" (Ca-File, Cert-File,
// Key-File). Closed network ports leave their connections here to end on
// the event loop.
class SystemSerialPorts : public SerialPortFactory
{
public:
    explicit SystemSerialPorts(const QString &settingsFile);

    std::unique_ptr<SerialPortDevice> create(int portNumber) override;

    // The device (or network address) that a port number stands for; empty
    // for a number outside 1 to 9.
    QString location(int portNumber) const override;
    // The platform's own port for a number without a mapping.
    static QString builtInLocation(int portNumber);
    // The [Tls] files, relative paths taken from the settings file's folder.
    NetworkSerialPort::TlsFiles tlsFiles() const;

    // Lets the connections of closed network ports end, in a local event
    // loop, for at most `maxMs`: for the end of the program, after its own
    // event loop, so that a remote relay hears its release. True when all
    // have ended.
    bool finishClosing(int maxMs);

private:
    QString m_settingsFile;
    ClosingConnections m_closing;
};
