#pragma once

#include <QList>
#include <QObject>

#include <memory>

class QTcpSocket;

// Keeps the connections of closed network ports until they are really gone.
// A port writes its last words (the line releases) and hands the socket
// over; from here Qt flushes what is left and says goodbye to the server on
// the event loop, so that closing a port never waits. A connection that has
// not ended within BoundMs is cut off.
class ClosingConnections : public QObject
{
    Q_OBJECT

public:
    static constexpr int BoundMs = 1000;

    explicit ClosingConnections(QObject *parent = nullptr);
    ~ClosingConnections() override;

    void adopt(std::unique_ptr<QTcpSocket> socket);
    int count() const { return int(m_closing.size()); }

    // Runs a local event loop until every connection has ended or `maxMs`
    // has passed; for the end of the program, once its own event loop has
    // stopped. True when none is left.
    bool finish(int maxMs);

signals:
    void allClosed();

private:
    void forget(QTcpSocket *socket);

    QList<QTcpSocket *> m_closing; // children of this object
};
