#include "platform/net/closingconnections.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

ClosingConnections::ClosingConnections(QObject *parent)
    : QObject(parent)
{
}

ClosingConnections::~ClosingConnections()
{
    // Whatever is still closing goes now, with its children.
    for (QTcpSocket *socket : std::as_const(m_closing))
        socket->disconnect(this);
}

void ClosingConnections::adopt(std::unique_ptr<QTcpSocket> socket)
{
    if (!socket)
        return;
    QTcpSocket *closing = socket.release();
    closing->setParent(this);
    m_closing.append(closing);
    connect(closing, &QAbstractSocket::disconnected, this, [this, closing] { forget(closing); });
    connect(closing, &QAbstractSocket::errorOccurred, this, [this, closing] {
        if (closing->state() == QAbstractSocket::UnconnectedState)
            forget(closing);
    });
    QTimer::singleShot(BoundMs, closing, [this, closing] {
        closing->abort();
        forget(closing);
    });
    // Writes what is still buffered first, then closes; never waits.
    closing->disconnectFromHost();
    if (closing->state() == QAbstractSocket::UnconnectedState)
        forget(closing);
}

void ClosingConnections::forget(QTcpSocket *socket)
{
    if (!m_closing.removeOne(socket))
        return;
    socket->disconnect(this);
    // Not from inside the socket's own signal.
    socket->deleteLater();
    if (m_closing.isEmpty())
        emit allClosed();
}

bool ClosingConnections::finish(int maxMs)
{
    if (!m_closing.isEmpty()) {
        QEventLoop loop;
        connect(this, &ClosingConnections::allClosed, &loop, &QEventLoop::quit);
        QTimer::singleShot(maxMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_closing.isEmpty();
}
