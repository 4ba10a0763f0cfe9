#include "core/mqttsettings.h"

#include "core/stationsettings.h"
#include "platform/storage/settingsstore.h"

#include <QSysInfo>
#include <QUrl>

namespace MqttSettings {

std::optional<Broker> broker(const QString &text, QString *error)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return std::nullopt;
    const auto refuse = [&](const QString &why) -> std::optional<Broker> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const bool tls = trimmed.startsWith(QLatin1String("mqtts://"), Qt::CaseInsensitive);
    const bool plainScheme = trimmed.startsWith(QLatin1String("mqtt://"), Qt::CaseInsensitive);
    if (!tls && !plainScheme && trimmed.contains(QLatin1String("://")))
        return refuse(QStringLiteral("Write the broker as HOST:PORT or mqtts://HOST:PORT."));
    const QUrl url(tls || plainScheme ? trimmed : QStringLiteral("mqtt://") + trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty()
        || !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() || url.hasFragment())
        return refuse(QStringLiteral("Write the broker as HOST:PORT or mqtts://HOST:PORT."));
    const int port = url.port(tls ? defaultTlsPort : defaultPort);
    if (port <= 0 || port > 65535)
        return refuse(QStringLiteral("The broker's port is a number from 1 to 65535."));
    return Broker{url.host(), quint16(port), tls};
}

std::optional<QString> nameError(const QString &text, bool isPosition)
{
    const QString trimmed = text.trimmed();
    if (trimmed.size() > maxNameLength)
        return QStringLiteral("At most %1 characters.").arg(maxNameLength);
    for (const QChar c : trimmed) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#')
            || c.category() == QChar::Other_Control)
            return QStringLiteral("No \"/\", \"+\", \"#\" or control characters: the name goes into MQTT topics.");
    }
    if (isPosition && (trimmed == QLatin1String("interlock") || trimmed == QLatin1String("inhibit")))
        return QStringLiteral("\"%1\" is a topic of the station's own; choose another name.").arg(trimmed);
    return std::nullopt;
}

QString defaultPosition()
{
    QString name = QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0);
    if (name.isEmpty() || nameError(name, true))
        name = QStringLiteral("position");
    return name;
}

Settings load(const SettingsStore &store)
{
    Settings settings;
    QStringList errors;
    const auto value = [&store](const QString &key) { return store.groupValue(group, key).trimmed(); };
    QString brokerError;
    settings.broker = broker(value(brokerKey), &brokerError);
    if (!brokerError.isEmpty())
        errors << QStringLiteral("Broker %1: %2").arg(StationSettings::shownValue(value(brokerKey)), brokerError);
    const auto name = [&](const QString &key, bool isPosition, const QString &fallback) {
        const QString text = value(key);
        if (const auto error = nameError(text, isPosition)) {
            errors << QStringLiteral("%1 %2: %3").arg(key, StationSettings::shownValue(text), *error);
            return fallback;
        }
        return text.isEmpty() ? fallback : text;
    };
    settings.position = name(positionKey, true, defaultPosition());
    settings.station = name(stationKey, false, QStringLiteral("station"));
    settings.interlockGroup = name(interlockGroupKey, false, QString());
    settings.allowWhenBrokerLost = value(whenBrokerLostKey).compare(QLatin1String("allow"), Qt::CaseInsensitive) == 0;
    settings.error = errors.join(QLatin1Char(' '));
    return settings;
}

MqttConfig clientConfig(const Settings &settings, const SettingsStore &store)
{
    MqttConfig config;
    if (settings.broker) {
        config.host = settings.broker->host;
        config.port = settings.broker->port;
        config.tls = settings.broker->tls;
    }
    if (config.tls) {
        config.caFile = store.groupValue(StationSettings::tlsGroup, StationSettings::caFileKey).trimmed();
        config.certFile = store.groupValue(StationSettings::tlsGroup, StationSettings::certFileKey).trimmed();
        config.keyFile = store.groupValue(StationSettings::tlsGroup, StationSettings::keyFileKey).trimmed();
    }
    config.clientId = QStringLiteral("zelvo-footswitch2/%1/%2").arg(settings.station, settings.position);
    config.willTopic = QStringLiteral("zelvo-footswitch2/%1/%2/status").arg(settings.station, settings.position);
    config.willPayload = QByteArrayLiteral("offline");
    return config;
}

InterlockArbiter::Config interlockConfig(const Settings &settings)
{
    InterlockArbiter::Config config;
    config.station = settings.station;
    config.position = settings.position;
    config.group = settings.interlockGroup;
    config.allowWhenBrokerLost = settings.allowWhenBrokerLost;
    return config;
}

} // namespace MqttSettings
