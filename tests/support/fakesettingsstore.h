#pragma once

#include "platform/storage/settingsstore.h"

#include <QMap>
#include <QStringList>

// An in-memory store that records every read and write in order.
class FakeSettingsStore : public SettingsStore
{
public:
    bool exists() const override { return present; }
    QString get(const QString &key) const override
    {
        log.append(QStringLiteral("get ") + key);
        return values.value(key);
    }

    void save(const QString &key, const QString &text) override
    {
        log.append(QStringLiteral("save %1=%2").arg(key, text));
        values.insert(key, text);
    }

    // Other groups' values live in `values` too, as "Group/Key".
    QString groupValue(const QString &group, const QString &key) const override
    {
        return get(group + QLatin1Char('/') + key);
    }

    void saveGroupValue(const QString &group, const QString &key, const QString &text) override
    {
        if (text.isEmpty()) {
            log.append(QStringLiteral("remove %1/%2").arg(group, key));
            values.remove(group + QLatin1Char('/') + key);
        } else {
            save(group + QLatin1Char('/') + key, text);
        }
    }

    StoredText storedGroupValue(const QString &group, const QString &key) const override
    {
        return {groupValue(group, key), false};
    }

    QStringList saves() const { return log.filter(QStringLiteral("save ")); }

    bool present = true; // false: no file yet, as at a first start
    QMap<QString, QString> values;
    mutable QStringList log;
};
