#pragma once

#include <QString>

// The address of a port on a network serial device server, and the one
// grammar for it: rfc2217://HOST:PORT, rfc2217://[IPv6]:PORT, and the same
// with rfc2217+tls:// for a link inside TLS. The scheme is read in any case,
// one trailing '/' is allowed, the port is 1 to 65535 in plain digits, and a
// host name holds only letters, digits, '-', '_' and '.'.
class NetworkAddress
{
public:
    // Reads `text` (surrounding white space ignored); an address that breaks
    // the grammar comes back invalid with the reason, in words for the user.
    static NetworkAddress parse(const QString &text);

    // Whether a port mapping is meant as a network address at all (it starts
    // with a network scheme), well written or not.
    static bool isNetworkAddress(const QString &text);

    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    bool isTls() const { return m_tls; }
    // An IPv6 address without its brackets.
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }

private:
    NetworkAddress() = default;
    void parseHostAndPort(QStringView hostAndPort);
    void parsePort(QStringView port);

    QString m_error;
    bool m_tls = false;
    QString m_host;
    quint16 m_port = 0;
};
