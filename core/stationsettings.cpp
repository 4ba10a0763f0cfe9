#include "core/stationsettings.h"

#include "platform/net/networkaddress.h"
#include "platform/storage/settingsstore.h"
#include "platform/serial/systemserialports.h"

#include <QDir>

#include <algorithm>

namespace StationSettings {

namespace {

// A whole number in [low, high] written in plain digits, else nothing. Plain
// digits only: "+5", "0x10" or "1e3" are not what anyone writes by hand, and
// reading them would hide a typo.
std::optional<int> boundedNumber(const QString &text, int low, int high)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 9)
        return std::nullopt;
    for (const QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int value = trimmed.toInt();
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

bool isControlCharacter(QChar c)
{
    return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c == QChar::LineSeparator
        || c == QChar::ParagraphSeparator;
}

// What every stored path or address must be, whatever it names.
std::optional<QString> storedTextError(const StoredText &value, const QString &trimmed)
{
    // "Com3=/dev/ttyUSB0,/dev/ttyUSB1" is two values to the INI reader:
    // which one was meant is not ours to guess.
    if (value.wasList)
        return QStringLiteral("Holds a list (an unquoted comma): write one value, in double quotes if it has a comma.");
    if (trimmed.size() > maxPortMappingLength)
        return QStringLiteral("Too long: at most %1 characters.").arg(maxPortMappingLength);
    if (std::any_of(trimmed.cbegin(), trimmed.cend(), isControlCharacter))
        return QStringLiteral("Contains a control character.");
    return std::nullopt;
}

} // namespace

QString portKey(int portNumber)
{
    return QStringLiteral("Com%1").arg(portNumber);
}

QString defaultPortDevice(int portNumber)
{
    return SystemSerialPorts::builtInLocation(portNumber);
}

int txTimeoutSeconds(const QString &text)
{
    return boundedNumber(text, 0, maxTxTimeoutSeconds).value_or(0);
}

int txTimeoutWarningSeconds(const QString &text)
{
    return boundedNumber(text, 0, maxTxTimeoutSeconds).value_or(defaultTxTimeoutWarningSeconds);
}

SerialPortDevice::InputLine footswitchLine(const QString &text)
{
    const QString line = text.trimmed().toUpper();
    if (line == QLatin1String("DSR"))
        return SerialPortDevice::InputLine::Dsr;
    if (line == QLatin1String("DCD"))
        return SerialPortDevice::InputLine::Dcd;
    if (line == QLatin1String("RI"))
        return SerialPortDevice::InputLine::Ri;
    return SerialPortDevice::InputLine::Cts;
}

QString footswitchLineText(SerialPortDevice::InputLine line)
{
    switch (line) {
    case SerialPortDevice::InputLine::Dsr:
        return QStringLiteral("DSR");
    case SerialPortDevice::InputLine::Dcd:
        return QStringLiteral("DCD");
    case SerialPortDevice::InputLine::Ri:
        return QStringLiteral("RI");
    case SerialPortDevice::InputLine::Cts:
        break;
    }
    return QStringLiteral("CTS");
}

bool footswitchInverted(const QString &text)
{
    return text.trimmed() == QLatin1String("1");
}

RelayLine relayLine(const QString &text)
{
    return text.trimmed().compare(QLatin1String("DTR"), Qt::CaseInsensitive) == 0 ? RelayLine::Dtr : RelayLine::Rts;
}

QString relayLineText(RelayLine line)
{
    return line == RelayLine::Dtr ? QStringLiteral("DTR") : QStringLiteral("RTS");
}

int footswitchDebounceMs(const QString &text)
{
    return boundedNumber(text, 0, maxFootswitchDebounceMs).value_or(defaultFootswitchDebounceMs);
}

bool heartbeatEnabled(const SettingsStore &settings, int portNumber)
{
    return settings.groupValue(heartbeatGroup, portKey(portNumber)).trimmed() != QLatin1String("0");
}

bool isNetworkMapping(const QString &text)
{
    return NetworkAddress::isNetworkAddress(text);
}

std::optional<QString> portMappingError(const QString &text)
{
    return portMappingError(StoredText{text});
}

std::optional<QString> portMappingError(const StoredText &value)
{
    const QString trimmed = value.text.trimmed();
    if (trimmed.isEmpty() && !value.wasList)
        return std::nullopt;
    if (const auto error = storedTextError(value, trimmed))
        return error;

    // Anything that looks like an address is held to the network ports' grammar.
    if (isNetworkMapping(trimmed) || trimmed.contains(QLatin1String("://"))) {
        const NetworkAddress address = NetworkAddress::parse(trimmed);
        if (!address.isValid())
            return address.error();
        return std::nullopt;
    }
    // Relative would mean the folder the program happened to start in.
    if (!QDir::isAbsolutePath(trimmed))
        return QStringLiteral("A device path must be absolute, as in /dev/ttyUSB0.");
    return std::nullopt;
}

std::optional<QString> tlsPathError(const StoredText &value)
{
    const QString trimmed = value.text.trimmed();
    if (trimmed.isEmpty() && !value.wasList)
        return std::nullopt;
    if (const auto error = storedTextError(value, trimmed))
        return error;
    if (!QDir::isAbsolutePath(trimmed))
        return QStringLiteral("Give the full path, from /.");
    return std::nullopt;
}

QString shownValue(const QString &text)
{
    constexpr qsizetype longestShown = 80;
    QString shown;
    for (const QChar c : QStringView(text).left(longestShown)) {
        if (isControlCharacter(c))
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    if (text.size() > longestShown)
        shown += QStringLiteral("...");
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

} // namespace StationSettings
