#include "platform/net/networkaddress.h"

#include <QHostAddress>

namespace {
const QString plainScheme = QStringLiteral("rfc2217://");
const QString tlsScheme = QStringLiteral("rfc2217+tls://");

bool isHostNameCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('_');
}
}

bool NetworkAddress::isNetworkAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    return trimmed.startsWith(QLatin1String("rfc2217:"), Qt::CaseInsensitive)
        || trimmed.startsWith(QLatin1String("rfc2217+tls:"), Qt::CaseInsensitive);
}

NetworkAddress NetworkAddress::parse(const QString &text)
{
    NetworkAddress address;
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(tlsScheme, Qt::CaseInsensitive)) {
        address.m_tls = true;
        address.parseHostAndPort(QStringView(trimmed).mid(tlsScheme.size()));
    } else if (trimmed.startsWith(plainScheme, Qt::CaseInsensitive)) {
        address.parseHostAndPort(QStringView(trimmed).mid(plainScheme.size()));
    } else {
        address.m_error = QStringLiteral("Write a network port as rfc2217://HOST:PORT or rfc2217+tls://HOST:PORT.");
    }
    if (!address.isValid()) {
        address.m_host.clear();
        address.m_port = 0;
    }
    return address;
}

void NetworkAddress::parseHostAndPort(QStringView hostAndPort)
{
    if (hostAndPort.endsWith(QLatin1Char('/')))
        hostAndPort.chop(1);
    if (hostAndPort.isEmpty()) {
        m_error = QStringLiteral("Missing host and port, as in rfc2217://HOST:PORT.");
        return;
    }

    if (hostAndPort.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostAndPort.indexOf(QLatin1Char(']'));
        if (close < 0) {
            m_error = QStringLiteral("Missing ']' after the IPv6 address.");
            return;
        }
        const QStringView host = hostAndPort.mid(1, close - 1);
        if (host.isEmpty()) {
            m_error = QStringLiteral("Missing host name.");
            return;
        }
        const QHostAddress literal(host.toString());
        if (literal.isNull() || literal.protocol() != QAbstractSocket::IPv6Protocol) {
            m_error = QStringLiteral("Not an IPv6 address between the brackets.");
            return;
        }
        const QStringView rest = hostAndPort.mid(close + 1);
        if (rest.isEmpty() || rest == QLatin1String(":")) {
            m_error = QStringLiteral("Missing port number, as in rfc2217://[::1]:PORT.");
            return;
        }
        if (!rest.startsWith(QLatin1Char(':'))) {
            m_error = QStringLiteral("Expected ':' and a port number after the IPv6 address.");
            return;
        }
        m_host = host.toString();
        parsePort(rest.mid(1));
        return;
    }

    const qsizetype colon = hostAndPort.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        m_error = QStringLiteral("Missing port number, as in rfc2217://HOST:PORT.");
        return;
    }
    const QStringView host = hostAndPort.left(colon);
    if (host.isEmpty()) {
        m_error = QStringLiteral("Missing host name.");
        return;
    }
    if (host.contains(QLatin1Char(':'))) {
        m_error = QStringLiteral("Put an IPv6 address in brackets, as in rfc2217://[::1]:PORT.");
        return;
    }
    for (const QChar c : host) {
        if (!isHostNameCharacter(c)) {
            m_error = QStringLiteral("The host name may hold only letters, digits, '-', '_' and '.'.");
            return;
        }
    }
    m_host = host.toString();
    parsePort(hostAndPort.mid(colon + 1));
}

void NetworkAddress::parsePort(QStringView port)
{
    // Plain digits only: "+5" or "0x10" is not what anyone writes by hand,
    // and reading it would hide a typo.
    bool digits = !port.isEmpty() && port.size() <= 5;
    for (const QChar c : port)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int number = digits ? port.toInt() : 0;
    if (number < 1 || number > 65535) {
        m_error = QStringLiteral("The port must be a number from 1 to 65535.");
        return;
    }
    m_port = quint16(number);
}
