#pragma once

#include "core/rigctlprotocol.h"
#include "core/rigctlupstream.h"

#include <QHostAddress>
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

    // The radio's own rigctld, "HOST:PORT" as for listen(), when the chain
    // ends in a radio reached through one: every command but PTT (and the power
    // status and "q") is passed on to it, each client on its own
    // connection, and its answer passed back. Empty: the stored rig answers.
    // Applies to the clients already connected too. False, with
    // errorString(), when the address is malformed; nothing changes then.
    bool setUpstream(const QString &hostAndPort);
    // "HOST:PORT" or "[HOST]:PORT", HOST an IP address or "localhost", never
    // looked up; false when malformed.
    static bool parseAddress(const QString &hostAndPort, QHostAddress &address, quint16 &port);

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
        RigctlUpstream *upstream = nullptr; // a child of the client's socket
    };
    void acceptClients();
    void serve(QTcpSocket *socket);
    void dropClient(QTcpSocket *socket);
    void attachUpstream(QTcpSocket *socket, Client &client);

    QTcpServer *m_server = nullptr;
    RigctlVirtualRig m_rig;
    QHostAddress m_upstreamAddress; // null: none
    quint16 m_upstreamPort = 0;
    bool m_pttOn = false;
    QString m_error;
    std::map<QTcpSocket *, Client> m_clients;
};
