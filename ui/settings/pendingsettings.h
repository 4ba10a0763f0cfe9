#pragma once

#include "platform/storage/settingsstore.h"

#include <QHash>

// The stored settings as a page shows them before OK: what the page saves
// here is read back, everything else comes from the store, which stays as
// it is. Lets the wiring assistant key the relay line chosen on the page.
class PendingSettings : public SettingsStore
{
public:
    explicit PendingSettings(const SettingsStore &stored)
        : m_stored(stored)
    {
    }

    bool exists() const override { return m_stored.exists(); }
    QString get(const QString &key) const override
    {
        return m_pending.contains(key) ? m_pending.value(key) : m_stored.get(key);
    }
    void save(const QString &key, const QString &text) override { m_pending.insert(key, text); }
    QString groupValue(const QString &group, const QString &key) const override
    {
        return m_stored.groupValue(group, key);
    }
    void saveGroupValue(const QString &, const QString &, const QString &) override {}
    StoredText storedGroupValue(const QString &group, const QString &key) const override
    {
        return m_stored.storedGroupValue(group, key);
    }

private:
    const SettingsStore &m_stored;
    QHash<QString, QString> m_pending;
};
