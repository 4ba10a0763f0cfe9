#pragma once

#include "platform/serial/serialportdevice.h"
#include "platform/storage/settingsstore.h"

#include <QString>

#include <optional>

// Keys of the station's settings (the ports, keying and TLS) and the parsers
// of their stored text. The file is the user's to edit, so a parser of a
// keying value never fails: text it does not understand, or a value out of
// range, reads as the default. A port or a TLS file is different: a value
// that cannot be used is refused with a reason, never replaced by a default
// device or the system's authorities, which the user did not choose. The
// same rules judge what the Settings window is given and what the program
// reads from the file at start.
namespace StationSettings {

// Group "Settings".
inline const QString txTimeoutKey = QStringLiteral("Tx-Timeout");
inline const QString txTimeoutWarningKey = QStringLiteral("Tx-Timeout-Warning");
inline const QString footswitchLineKey = QStringLiteral("Footswitch-Line");
inline const QString footswitchInvertedKey = QStringLiteral("Footswitch-Inverted");
inline const QString relayLineKey = QStringLiteral("Relay-Line");
inline const QString footswitchDebounceKey = QStringLiteral("Footswitch-Debounce");

// Group "Ports": key portKey(n), the device or network address of port n.
inline const QString portsGroup = QStringLiteral("Ports");
// Group "Heartbeat": key portKey(n) "0" switches a network port's heartbeat off.
inline const QString heartbeatGroup = QStringLiteral("Heartbeat");
// Group "Tls": the files of a rfc2217+tls:// connection.
inline const QString tlsGroup = QStringLiteral("Tls");
inline const QString caFileKey = QStringLiteral("Ca-File");
inline const QString certFileKey = QStringLiteral("Cert-File");
inline const QString keyFileKey = QStringLiteral("Key-File");

inline constexpr int firstPort = 1;
inline constexpr int lastPort = 9;
inline constexpr int maxTxTimeoutSeconds = 3600;
// What the help suggests: longer than any normal over, short enough that a
// stuck switch does not hold a frequency for long.
inline constexpr int suggestedTxTimeoutSeconds = 180;
// Long enough to finish a sentence and let go before the transmitter drops.
inline constexpr int defaultTxTimeoutWarningSeconds = 10;
inline constexpr int defaultFootswitchDebounceMs = 10;
inline constexpr int maxFootswitchDebounceMs = 500;
inline constexpr int maxPortMappingLength = 256;

enum class RelayLine { Rts, Dtr };

// "Com1" to "Com9".
QString portKey(int portNumber);
// The device a port number means without a mapping: /dev/ttyS<n-1>.
QString defaultPortDevice(int portNumber);

// Seconds from 1 to 3600; 0 (off) for "0" and for any other text.
int txTimeoutSeconds(const QString &text);
// Seconds before the time-out that its warning begins, 0 (off) to 3600; 10
// for a missing value and for any other text.
int txTimeoutWarningSeconds(const QString &text);
// "CTS" (the default), "DSR", "DCD" or "RI", in any case.
SerialPortDevice::InputLine footswitchLine(const QString &text);
QString footswitchLineText(SerialPortDevice::InputLine line);
// "1": the switch opens when pressed (normally closed). Anything else: "0".
bool footswitchInverted(const QString &text);
// "RTS" (the default) or "DTR", in any case.
RelayLine relayLine(const QString &text);
QString relayLineText(RelayLine line);
// Milliseconds from 0 to 500; 10 for any other text.
int footswitchDebounceMs(const QString &text);
// On unless group "Heartbeat" holds "0" for the port.
bool heartbeatEnabled(const SettingsStore &settings, int portNumber);

// Whether a port mapping names a network port (rfc2217:// or rfc2217+tls://)
// rather than a device.
bool isNetworkMapping(const QString &text);
// Why a port mapping cannot be used, in words for the user; nothing for a
// usable one. Empty text is usable: it means the built-in default device;
// an empty list is not. Surrounding white space is ignored, as it is when
// the mapping is read.
std::optional<QString> portMappingError(const StoredText &value);
std::optional<QString> portMappingError(const QString &text);
// The same for the path of a TLS file: absolute, one path, no control
// characters, at most maxPortMappingLength characters. Empty means none.
std::optional<QString> tlsPathError(const StoredText &value);
// A stored value in double quotes for a message, control characters written
// as \xNN and a long one cut short, so that the user can find it in the file
// and a message never carries terminal escapes.
QString shownValue(const QString &text);

} // namespace StationSettings
