#include "core/storedportmappings.h"

#include "core/stationsettings.h"
#include "platform/storage/settingsstore.h"

StoredPortMappings::StoredPortMappings(const SettingsStore &settings)
    : m_settings(settings)
{
}

PortMappings::Mapping StoredPortMappings::mapping(int portNumber) const
{
    const QString key = StationSettings::portKey(portNumber);
    const auto unsaved = m_unsaved.constFind(portNumber);
    const StoredText stored = unsaved != m_unsaved.cend()
        ? StoredText{*unsaved}
        : m_settings.storedGroupValue(StationSettings::portsGroup, key);
    const QString text = stored.text.trimmed();
    if (const auto error = StationSettings::portMappingError(stored))
        return {text, QStringLiteral("%1 in [%2] %3: %4")
                          .arg(key, StationSettings::portsGroup, StationSettings::shownValue(text), *error)};
    if (text.isEmpty())
        return {StationSettings::defaultPortDevice(portNumber), {}};
    return {text, {}};
}

PortMappings::Tls StoredPortMappings::tls() const
{
    Tls tls;
    const auto path = [&](const QString &key, QString *file) {
        const StoredText stored = m_settings.storedGroupValue(StationSettings::tlsGroup, key);
        const QString text = stored.text.trimmed();
        const auto error = StationSettings::tlsPathError(stored);
        if (error && tls.refusal.isEmpty())
            tls.refusal = QStringLiteral("%1 in [%2] %3: %4")
                              .arg(key, StationSettings::tlsGroup, StationSettings::shownValue(text), *error);
        *file = error ? QString() : text;
    };
    path(StationSettings::caFileKey, &tls.files.caFile);
    path(StationSettings::certFileKey, &tls.files.certFile);
    path(StationSettings::keyFileKey, &tls.files.keyFile);
    return tls;
}
