#pragma once

#include <QString>

#include <optional>

// Keys and text forms of the values the main window keeps in the settings
// store. Every value is text; conversions happen where a value is used.
namespace RelaySettings {

inline const QString positionLeft = QStringLiteral("Position-Left");
inline const QString positionTop = QStringLiteral("Position-Top");
inline const QString onTop = QStringLiteral("OnTop");
inline const QString comPortIn = QStringLiteral("ComPort");
inline const QString comPortOut = QStringLiteral("ComPort2");

inline const QString defaultPort = QStringLiteral("1");
inline const QString defaultOnTop = QStringLiteral("0");

// Positions are twips held as single-precision numbers. A whole position is
// written without a decimal point and never in exponent form, in the C
// locale, whatever the user's locale.
QString positionText(float twips);
// Empty for a text that is not a finite number.
std::optional<float> positionValue(const QString &text);

// "0", "1" and "2" (greyed) are the check box values that can be stored.
bool isOnTopText(const QString &text);

// A port text names a port when it is one digit from 1 to 9.
std::optional<qint16> portNumber(const QString &text);

} // namespace RelaySettings
