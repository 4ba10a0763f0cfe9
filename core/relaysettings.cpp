#include "core/relaysettings.h"

#include <QLocale>

#include <cmath>

namespace RelaySettings {

QString positionText(float twips)
{
    return QLocale::c().toString(double(twips), 'f', QLocale::FloatingPointShortest);
}

std::optional<float> positionValue(const QString &text)
{
    bool ok = false;
    const float value = QLocale::c().toFloat(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool isOnTopText(const QString &text)
{
    return text == QLatin1String("0") || text == QLatin1String("1") || text == QLatin1String("2");
}

std::optional<qint16> portNumber(const QString &text)
{
    if (text.size() != 1 || text[0] < QLatin1Char('1') || text[0] > QLatin1Char('9'))
        return std::nullopt;
    return qint16(text[0].unicode() - '0');
}

} // namespace RelaySettings
