#include "platform/storage/qsettingsstore.h"

#include <QFileInfo>

namespace {
const QString settingsGroup = QStringLiteral("Settings/");
const QString storeName = QStringLiteral("Zelvo-Footswitch2");
} // namespace

QSettingsStore::QSettingsStore()
    : m_settings(QSettings::UserScope, storeName, storeName)
{
}

QSettingsStore::QSettingsStore(const QString &iniFile)
    : m_settings(iniFile, QSettings::IniFormat)
{
}

bool QSettingsStore::exists() const
{
    return QFileInfo::exists(m_settings.fileName());
}

QString QSettingsStore::get(const QString &key) const
{
    // Another process (or the user) may have edited the file since.
    m_settings.sync();
    return m_settings.value(settingsGroup + key).toString();
}

void QSettingsStore::save(const QString &key, const QString &text)
{
    m_settings.setValue(settingsGroup + key, text);
    m_settings.sync();
}

void QSettingsStore::saveTogether(const QList<std::pair<QString, QString>> &values)
{
    for (const auto &[key, text] : values)
        m_settings.setValue(settingsGroup + key, text);
    m_settings.sync();
}

QString QSettingsStore::groupValue(const QString &group, const QString &key) const
{
    m_settings.sync();
    return m_settings.value(group + QLatin1Char('/') + key).toString();
}

void QSettingsStore::saveGroupValue(const QString &group, const QString &key, const QString &text)
{
    saveGroupTogether(group, {{key, text}});
}

void QSettingsStore::saveGroupTogether(const QString &group, const QList<std::pair<QString, QString>> &values)
{
    for (const auto &[key, text] : values) {
        if (text.isEmpty())
            m_settings.remove(group + QLatin1Char('/') + key);
        else
            m_settings.setValue(group + QLatin1Char('/') + key, text);
    }
    m_settings.sync();
}

StoredText QSettingsStore::storedGroupValue(const QString &group, const QString &key) const
{
    m_settings.sync();
    const QVariant value = m_settings.value(group + QLatin1Char('/') + key);
    if (value.typeId() == QMetaType::QStringList)
        return {value.toStringList().join(QLatin1Char(',')), true};
    return {value.toString(), false};
}

QString QSettingsStore::fileName() const
{
    return m_settings.fileName();
}

QString QSettingsStore::defaultFileName()
{
    return QSettings(QSettings::UserScope, storeName, storeName).fileName();
}
