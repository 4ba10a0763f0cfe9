#pragma once

#include "platform/process/registryreader.h"

#include <QMap>
#include <QStringList>

#include <cstring>

// A registry in memory: keys under HKEY_LOCAL_MACHINE holding values of raw
// bytes and a type code. Like the machine-wide keys of a real registry it
// refuses write rights. Records every call in order.
class FakeRegistry : public RegistryReader
{
public:
    struct Value
    {
        quint32 type = TypeText;
        QByteArray data;
    };

    void set(const QByteArray &key, const QByteArray &name, quint32 type, const QByteArray &data)
    {
        keys[key].insert(name, Value{type, data});
    }
    void setText(const QByteArray &key, const QByteArray &name, const QString &text)
    {
        set(key, name, TypeText, text.toLocal8Bit() + '\0');
    }

    long open(quint32 root, const QByteArray &subKey, quint32 access, Key *key) override
    {
        log.append(QStringLiteral("open %1").arg(QString::fromLocal8Bit(subKey)));
        accessAsked.append(access);
        if (root != LocalMachine || !keys.contains(subKey))
            return FileNotFound;
        if (access & ~KeyRead)
            return AccessDenied;
        *key = ++m_lastHandle;
        m_open.insert(*key, subKey);
        return Success;
    }

    long query(Key key, const QByteArray &valueName, quint32 *type, char *data, quint32 *size) override
    {
        log.append(QStringLiteral("query %1").arg(QString::fromLocal8Bit(valueName)));
        if (!m_open.contains(key))
            return InvalidHandle;
        const auto values = keys.value(m_open.value(key));
        if (!values.contains(valueName))
            return FileNotFound;
        const Value value = values.value(valueName);
        const auto length = quint32(value.data.size());
        if (length > *size) {
            *size = length;
            return MoreData;
        }
        std::memcpy(data, value.data.constData(), length);
        *type = value.type;
        *size = length;
        return Success;
    }

    long close(Key key) override
    {
        log.append(QStringLiteral("close"));
        return m_open.remove(key) ? Success : InvalidHandle;
    }

    int openKeys() const { return int(m_open.size()); }

    QMap<QByteArray, QMap<QByteArray, Value>> keys;
    QStringList log;
    QList<quint32> accessAsked;

private:
    Key m_lastHandle = 0x100;
    QMap<Key, QByteArray> m_open;
};
