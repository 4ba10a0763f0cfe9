#pragma once

#include "core/rigctlprotocol.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QTcpServer;
class QTcpSocket;

// A rigctld for the programs that key a radio through "Hamlib NET rigctl":
// it listens on one address, speaks rigctld's protocol to each client and
// hands their PTT requests to the owner, who keys the chain of outputs. It
// never blocks; a client that sends faster than it reads is not read from
// until it has taken its answers, so memory stays bounded.
class RigctlServer : public QObject
{
    Q_OBJECT

public:
    explicit RigctlServer(QObject *parent = nullptr);
    ~RigctlServer() override;

    // Listens on "HOST:PORT" ("127.0.0.1:4532", "[::1]:4532"); HOST is an IP
    // address or "localhost", never looked up. Port 0 takes a free port (see
    // port()). False, with errorString(), when the address is malformed or
    // taken; any earlier listening ends first.
    bool listen(const QString &hostAndPort);
    void close();
    bool isListening() const;
    quint16 port() const;
    QString errorString() const { return m_error; }

    // The transmitter's state as the owner has it: what "t" answers.
    void setPttState(bool on);

signals:
    // A client (named "ADDRESS:PORT") asks to key (on) or release.
    void pttRequested(const QString &client, bool on);
    // The client's connection closed or was lost: release its key.
    void clientGone(const QString &client);

private:
    struct Client
    {
        QString name;
        std::unique_ptr<RigctlProtocol> protocol;
    };
    void acceptClients();
    void serve(QTcpSocket *socket);
    void dropClient(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    RigctlVirtualRig m_rig;
    bool m_pttOn = false;
    QString m_error;
    std::map<QTcpSocket *, Client> m_clients;
};
