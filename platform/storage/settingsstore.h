#pragma once

#include <QList>
#include <QString>

#include <utility>

// A value as the file holds it. The file is the user's to edit, and an INI
// reader turns an unquoted comma into a list: "wasList" keeps that apart from
// a single text, which must never be guessed from a list.
struct StoredText
{
    QString text; // a list's items joined by ","
    bool wasList = false;
};

// Per-user text values under the application "Zelvo-Footswitch2", section
// "Settings". A key that is absent reads as the empty text.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // Whether the store is there at all: a first start finds none. Asks the
    // file system only; nothing is read.
    virtual bool exists() const = 0;

    virtual QString get(const QString &key) const = 0;
    // Takes effect at once: a crash a moment later must not lose the value.
    virtual void save(const QString &key, const QString &text) = 0;
    // Several values, in order, written to disk together: each write to the
    // disk may take milliseconds that the window must not wait for.
    virtual void saveTogether(const QList<std::pair<QString, QString>> &values)
    {
        for (const auto &[key, text] : values)
            save(key, text);
    }

    // The same for the file's other groups ("Ports", "Tls"). Saving the empty
    // text removes the key, so that its built-in default applies again.
    virtual QString groupValue(const QString &group, const QString &key) const = 0;
    virtual void saveGroupValue(const QString &group, const QString &key, const QString &text) = 0;
    // Several values of one group, written to disk together, as
    // saveTogether() does for "Settings"; an empty text removes its key.
    virtual void saveGroupTogether(const QString &group, const QList<std::pair<QString, QString>> &values)
    {
        for (const auto &[key, text] : values)
            saveGroupValue(group, key, text);
    }
    // The value with what groupValue() cannot tell: whether it was a list.
    virtual StoredText storedGroupValue(const QString &group, const QString &key) const = 0;
};
