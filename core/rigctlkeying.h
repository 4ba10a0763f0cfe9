#pragma once

#include "core/rigctlserver.h"

#include <QObject>
#include <QString>

#include <optional>

class KeyingEngine;
class SettingsStore;

// Lets programs key the chain through the PTT server: each client is a
// source of the engine ("rigctl client 127.0.0.1:53422"), its "T 1" and
// "T 0" key and release its own key, a client that goes releases it, and
// "t" answers whether the transmitter is, or may still be, on the air. When
// the chain ends in a radio reached through rigctld, everything but PTT is
// passed on to that rigctld.
class RigctlKeying : public QObject
{
    Q_OBJECT

public:
    // Group "Settings": "Off" or HOST:PORT.
    static inline const QString settingKey = QStringLiteral("Rigctl-Server");
    static inline const QString off = QStringLiteral("Off");

    // The address a stored or typed value asks for: nothing for "Off" or an
    // empty value. A value that is neither is refused with a reason.
    struct Address
    {
        std::optional<QString> hostAndPort;
        QString problem;
    };
    static Address address(const QString &text);
    // One sentence for an address that others can reach, or nothing.
    static QString exposureWarning(const QString &hostAndPort);

    // Configures itself from `settings` each time the engine is configured.
    RigctlKeying(KeyingEngine &engine, const SettingsStore &settings, QObject *parent = nullptr);
    ~RigctlKeying() override;

    // Listens where the settings say (again only when that changed), and
    // passes commands to the chain's rigctld as configured.
    void configure();
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.port(); }

signals:
    // The server cannot listen: one message per address tried.
    void failed(const QString &message);

private:
    static QString sourceName(const QString &client);
    void showTransmitter();

    KeyingEngine &m_engine;
    const SettingsStore &m_settings;
    RigctlServer m_server;
    QString m_listeningOn;
    // The chain's rigctld as last configured.
    QString m_upstream;
};
