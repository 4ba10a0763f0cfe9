#include "platform/mqtt/mqttclient.h"

#include "platform/process/alternatesignalstack.h"

#include <QDeadlineTimer>
#include <QSemaphore>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <mosquitto.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

// Keep-alive pings and the check for a broker that went silent.
constexpr int MiscIntervalMs = 250;
// A connection that neither succeeds nor fails (a host that drops packets)
// counts as failed after this.
constexpr int ConnectTimeoutMs = 5000;
// libmosquitto refuses a shorter keep-alive.
constexpr int MinKeepAliveSeconds = 5;

QString reason(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

// A crash inside the library still releases the outputs: the thread's event
// loop runs with a signal stack of its own.
class MqttQThread : public QThread
{
protected:
    void run() override
    {
        const AlternateSignalStack signalStack;
        exec();
    }
};

} // namespace

int MqttClient::backoffMs(int attempt)
{
    return std::min(500 << std::clamp(attempt, 0, 6), 30000);
}

// Lives on the client's thread; every libmosquitto call is made here.
class MqttWorker : public QObject
{
public:
    explicit MqttWorker(MqttClient *client)
        : m_client(client)
    {
        m_misc.setInterval(MiscIntervalMs);
        connect(&m_misc, &QTimer::timeout, this, [this] { service(false, false); });
        m_retry.setSingleShot(true);
        connect(&m_retry, &QTimer::timeout, this, &MqttWorker::attempt);
        m_connectTimeout.setSingleShot(true);
        connect(&m_connectTimeout, &QTimer::timeout, this,
                [this] { fail(QStringLiteral("no answer within %1 s").arg(ConnectTimeoutMs / 1000)); });
    }

    ~MqttWorker() override
    {
        unwatch();
        // No DISCONNECT: the broker sees the connection drop and publishes
        // the will.
        if (m_mosq)
            mosquitto_destroy(m_mosq);
    }

    void start(const MqttConfig &config)
    {
        m_config = config;
        const QByteArray id = config.clientId.toUtf8();
        m_mosq = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this);
        if (!m_mosq) {
            report(QStringLiteral("The MQTT client cannot be created."));
            return;
        }
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        // A claim is a few bytes that a press waits for: never held back to
        // be sent with the next.
        mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto *, void *self, int rc) {
            static_cast<MqttWorker *>(self)->onConnect(rc);
        });
        mosquitto_disconnect_callback_set(m_mosq, [](mosquitto *, void *self, int rc) {
            static_cast<MqttWorker *>(self)->onDisconnect(rc);
        });
        mosquitto_message_callback_set(m_mosq, [](mosquitto *, void *self, const mosquitto_message *message) {
            static_cast<MqttWorker *>(self)->onMessage(message);
        });
        if (!config.willTopic.isEmpty()) {
            mosquitto_will_set(m_mosq, config.willTopic.toUtf8().constData(), int(config.willPayload.size()),
                               config.willPayload.constData(), 1, true);
        }
        if (config.tls) {
            const QByteArray ca = config.caFile.toLocal8Bit();
            const QByteArray cert = config.certFile.toLocal8Bit();
            const QByteArray key = config.keyFile.toLocal8Bit();
            // No CA file: the system's authorities.
            const int rc = mosquitto_tls_set(m_mosq, ca.isEmpty() ? nullptr : ca.constData(),
                                             ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                                             cert.isEmpty() ? nullptr : cert.constData(),
                                             key.isEmpty() ? nullptr : key.constData(), nullptr);
            if (rc != MOSQ_ERR_SUCCESS) {
                report(QStringLiteral("The TLS files for the MQTT broker cannot be used: %1").arg(reason(rc)));
                return;
            }
        }
        attempt();
    }

    void publish(const QString &topic, const QByteArray &payload, bool retained, int qos)
    {
        if (!m_up)
            return;
        mosquitto_publish(m_mosq, nullptr, topic.toUtf8().constData(), int(payload.size()), payload.constData(),
                          qos, retained);
        updateWrite();
    }

    void subscribe(const QString &pattern, int qos)
    {
        if (!m_up)
            return;
        mosquitto_subscribe(m_mosq, nullptr, pattern.toUtf8().constData(), qos);
        updateWrite();
    }

    // The goodbye, waiting here (the program's loop has ended) until the
    // DISCONNECT is written or the deadline passes.
    bool finish(const QString &topic, const QByteArray &lastWords, QDeadlineTimer deadline)
    {
        m_finishing = true;
        m_misc.stop();
        m_retry.stop();
        m_connectTimeout.stop();
        unwatch();
        if (!m_mosq || !m_up)
            return true;
        if (!topic.isEmpty()) {
            mosquitto_publish(m_mosq, nullptr, topic.toUtf8().constData(), int(lastWords.size()),
                              lastWords.constData(), 1, true);
        }
        mosquitto_disconnect(m_mosq);
        while (mosquitto_socket(m_mosq) != -1 && !deadline.hasExpired()) {
            pollfd fd{mosquitto_socket(m_mosq), short(POLLIN | (mosquitto_want_write(m_mosq) ? POLLOUT : 0)), 0};
            if (poll(&fd, 1, int(std::min<qint64>(deadline.remainingTime(), 100))) < 0 && errno != EINTR)
                break;
            if (fd.revents & POLLOUT)
                mosquitto_loop_write(m_mosq, 1);
            if (mosquitto_socket(m_mosq) != -1 && (fd.revents & (POLLIN | POLLHUP | POLLERR)))
                mosquitto_loop_read(m_mosq, 1);
        }
        return mosquitto_socket(m_mosq) == -1;
    }

private:
    QString address() const { return QStringLiteral("%1:%2").arg(m_config.host).arg(m_config.port); }

    void attempt()
    {
        if (m_finishing)
            return;
        m_connecting = true;
        m_connectTimeout.start(ConnectTimeoutMs);
        // The host lookup happens here, on this thread, and the TCP connect
        // does not wait.
        const int rc = mosquitto_connect_async(m_mosq, m_config.host.toUtf8().constData(), m_config.port,
                                               std::max(m_config.keepAliveSeconds, MinKeepAliveSeconds));
        if (rc != MOSQ_ERR_SUCCESS) {
            fail(reason(rc));
            return;
        }
        watch();
    }

    void watch()
    {
        unwatch();
        const int fd = mosquitto_socket(m_mosq);
        if (fd < 0) {
            fail(QStringLiteral("no socket"));
            return;
        }
        m_read = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(m_read, &QSocketNotifier::activated, this, [this] { service(true, false); });
        m_write = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        connect(m_write, &QSocketNotifier::activated, this, [this] { service(false, true); });
        m_misc.start();
        updateWrite();
    }

    // Possibly from within a notifier's own signal: they go later.
    void unwatch()
    {
        for (QSocketNotifier *notifier : {m_read, m_write}) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
        m_read = nullptr;
        m_write = nullptr;
    }

    void updateWrite()
    {
        if (m_write)
            m_write->setEnabled(mosquitto_want_write(m_mosq));
    }

    void service(bool readable, bool writable)
    {
        if (!m_read)
            return;
        int rc = MOSQ_ERR_SUCCESS;
        // Also the TLS handshake of a connection made without waiting.
        if (readable)
            rc = mosquitto_loop_read(m_mosq, 1);
        if (rc == MOSQ_ERR_SUCCESS && writable && m_read)
            rc = mosquitto_loop_write(m_mosq, 1);
        if (rc == MOSQ_ERR_SUCCESS && m_read)
            rc = mosquitto_loop_misc(m_mosq);
        if (!m_read)
            return; // a callback has already dealt with it
        if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_mosq) == -1)
            fail(reason(rc == MOSQ_ERR_SUCCESS ? MOSQ_ERR_CONN_LOST : rc));
        else
            updateWrite();
    }

    void onConnect(int rc)
    {
        if (rc != 0) {
            fail(QString::fromUtf8(mosquitto_connack_string(rc)));
            return;
        }
        m_connecting = false;
        m_connectTimeout.stop();
        m_up = true;
        m_attempt = 0;
        m_told = false;
        QMetaObject::invokeMethod(m_client, [client = m_client] { client->connectedOnWorker(); },
                                  Qt::QueuedConnection);
    }

    void onDisconnect(int rc)
    {
        if (m_finishing)
            return;
        fail(reason(rc == 0 ? MOSQ_ERR_CONN_LOST : rc));
    }

    void onMessage(const mosquitto_message *message)
    {
        const QString topic = QString::fromUtf8(message->topic);
        const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
        const bool retained = message->retain;
        QMetaObject::invokeMethod(
            m_client,
            [client = m_client, topic, payload, retained] { emit client->messageReceived(topic, payload, retained); },
            Qt::QueuedConnection);
    }

    // One failure, told once until a connection succeeds again; the next
    // attempt waits longer each time.
    void fail(const QString &why)
    {
        if (m_finishing || (!m_connecting && !m_up))
            return;
        unwatch();
        m_misc.stop();
        m_connectTimeout.stop();
        const bool wasUp = m_up;
        m_up = false;
        m_connecting = false;
        if (!m_told) {
            m_told = true;
            report(wasUp ? QStringLiteral("The connection to the MQTT broker %1 was lost (%2); trying again.")
                                 .arg(address(), why)
                         : QStringLiteral("The MQTT broker %1 cannot be reached (%2); trying again.")
                                 .arg(address(), why));
        }
        m_retry.start(MqttClient::backoffMs(m_attempt++));
    }

    void report(const QString &message)
    {
        QMetaObject::invokeMethod(m_client, [client = m_client, message] { client->lostOnWorker(message); },
                                  Qt::QueuedConnection);
    }

    MqttClient *m_client = nullptr;
    MqttConfig m_config;
    mosquitto *m_mosq = nullptr;
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    QTimer m_misc{this};
    QTimer m_retry{this};
    QTimer m_connectTimeout{this};
    int m_attempt = 0;
    bool m_connecting = false;
    bool m_up = false;
    bool m_told = false;
    bool m_finishing = false;
};

MqttClient::MqttClient(QObject *parent)
    : QObject(parent)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
}

MqttClient::~MqttClient()
{
    if (!m_thread)
        return;
    m_thread->quit();
    if (m_thread->wait(2000))
        delete m_thread;
    // Else it is stuck in a host lookup: left to the end of the process
    // rather than waited for.
}

void MqttClient::start(const MqttConfig &config)
{
    if (m_thread)
        return;
    m_thread = new MqttQThread;
    m_thread->setObjectName(QStringLiteral("mqtt"));
    m_worker = new MqttWorker(this);
    m_worker->moveToThread(m_thread);
    // Destroyed on its own thread as the thread ends.
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, config] { worker->start(config); },
                              Qt::QueuedConnection);
}

void MqttClient::publish(const QString &topic, const QByteArray &payload, bool retained, int qos)
{
    if (m_worker && !m_finished) {
        QMetaObject::invokeMethod(
            m_worker,
            [worker = m_worker, topic, payload, retained, qos] { worker->publish(topic, payload, retained, qos); },
            Qt::QueuedConnection);
    }
}

void MqttClient::subscribe(const QString &pattern, int qos)
{
    if (m_worker && !m_finished) {
        QMetaObject::invokeMethod(m_worker, [worker = m_worker, pattern, qos] { worker->subscribe(pattern, qos); },
                                  Qt::QueuedConnection);
    }
}

bool MqttClient::finish(int boundMs, const QString &topic, const QByteArray &lastWords)
{
    if (!m_thread || m_finished)
        return true;
    m_finished = true;
    const QDeadlineTimer deadline(boundMs);
    struct Outcome
    {
        QSemaphore done;
        bool clean = false;
    };
    const auto outcome = std::make_shared<Outcome>();
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, topic, lastWords, deadline, outcome] {
            outcome->clean = worker->finish(topic, lastWords, deadline);
            outcome->done.release();
        },
        Qt::QueuedConnection);
    const bool inTime = outcome->done.tryAcquire(1, int(std::max<qint64>(deadline.remainingTime(), 0)));
    m_thread->quit();
    if (m_thread->wait(deadline)) {
        delete m_thread;
    }
    m_thread = nullptr;
    m_worker = nullptr;
    m_connected = false;
    return inTime && outcome->clean;
}

void MqttClient::connectedOnWorker()
{
    m_connected = true;
    emit connected();
}

void MqttClient::lostOnWorker(const QString &message)
{
    m_connected = false;
    emit connectionLost(message);
}
