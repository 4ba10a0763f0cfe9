#pragma once

#include "platform/net/networkserialport.h"
#include "platform/serial/serialportdevice.h"

// Maps port numbers 1 to 9 to devices. Each number can be remapped in the
// settings file, group "Ports", key "Com1" to "Com9"; without a mapping
// number n is the platform's n-th serial port (COMn; /dev/ttyS<n-1> on Linux).
// Every rfc2217+tls:// port uses the files of group "Tls" (Ca-File, Cert-File,
// Key-File).
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

private:
    QString m_settingsFile;
};
