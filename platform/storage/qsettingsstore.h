#pragma once

#include "platform/storage/settingsstore.h"

#include <QSettings>

// The settings store on QSettings. On Linux this is the INI file
// $XDG_CONFIG_HOME/Zelvo-Footswitch2/Zelvo-Footswitch2.conf.
class QSettingsStore : public SettingsStore
{
public:
    QSettingsStore();
    // For tests: an INI file at a given path.
    explicit QSettingsStore(const QString &iniFile);

    bool exists() const override;
    QString get(const QString &key) const override;
    void save(const QString &key, const QString &text) override;
    void saveTogether(const QList<std::pair<QString, QString>> &values) override;
    QString groupValue(const QString &group, const QString &key) const override;
    void saveGroupValue(const QString &group, const QString &key, const QString &text) override;
    void saveGroupTogether(const QString &group, const QList<std::pair<QString, QString>> &values) override;
    StoredText storedGroupValue(const QString &group, const QString &key) const override;

    QString fileName() const;

    static QString defaultFileName();

private:
    mutable QSettings m_settings;
};
