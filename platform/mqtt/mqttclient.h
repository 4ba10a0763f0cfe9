#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QThread;
class MqttWorker;

// Where and how to reach the broker.
struct MqttConfig
{
    QString host;
    quint16 port = 1883;
    // mqtts://: TLS, with these PEM files. An empty CA file trusts the
    // system's authorities; the certificate and key only where the broker
    // asks for them.
    bool tls = false;
    QString caFile;
    QString certFile;
    QString keyFile;
    QString clientId;
    // The broker takes a client for dead after 1.5 times this without a
    // word and publishes its will. libmosquitto refuses less than 5 s, so
    // that is the least used; the interlock does not wait for the will to
    // free a silent position's claim (its claim expires after 3 s).
    int keepAliveSeconds = 5;
    // Published by the broker, retained, when the connection ends without a
    // clean disconnect. An empty topic sets no will.
    QString willTopic;
    QByteArray willPayload;

    bool operator==(const MqttConfig &) const = default;
};

// A connection to an MQTT broker through libmosquitto. Every libmosquitto
// call runs on a thread of its own, whose event loop watches the socket: the
// thread that owns this object (the window's) never waits for the network,
// not even for a host lookup. The calls below return at once and are carried
// out on that thread in the order made.
//
// A lost or failed connection is tried again after 0.5 s, doubling to 30 s;
// connectionLost() tells each failure once, not each attempt. Publishing
// while there is no connection drops the message: whoever publishes state
// publishes it again on connected().
class MqttClient : public QObject
{
    Q_OBJECT

public:
    explicit MqttClient(QObject *parent = nullptr);
    // Without finish(): the socket is closed with no goodbye, as a crash
    // would, and the broker publishes the will.
    ~MqttClient() override;

    void start(const MqttConfig &config);
    void publish(const QString &topic, const QByteArray &payload, bool retained, int qos = 1);
    void subscribe(const QString &pattern, int qos = 1);

    // For the end of the program, after its event loop: publishes the last
    // words (retained) if a topic is given and the connection is up, then
    // disconnects cleanly, so that the broker keeps the will to itself.
    // Waits at most boundMs; true when all of it was done in time, or when
    // there was no connection to say it on (the will has said it then).
    bool finish(int boundMs, const QString &topic = QString(), const QByteArray &lastWords = QByteArray());

    bool isConnected() const { return m_connected; }

    // How long the n-th attempt after a failure waits (n from 0): 0.5 s,
    // doubling, at most 30 s.
    static int backoffMs(int attempt);

signals:
    void connected();
    void connectionLost(const QString &message);
    void messageReceived(const QString &topic, const QByteArray &payload, bool retained);

private:
    friend class MqttWorker;
    void connectedOnWorker();
    void lostOnWorker(const QString &message);

    QThread *m_thread = nullptr;
    MqttWorker *m_worker = nullptr;
    bool m_connected = false;
    bool m_finished = false;
};
