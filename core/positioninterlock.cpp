#include "core/positioninterlock.h"

#include "platform/mqtt/mqttclient.h"

namespace {

// Often enough to renew each second and to see an expiry within a fifth of
// a second.
constexpr int TickMs = 200;

} // namespace

PositionInterlock::PositionInterlock(MqttClient &client, const InterlockArbiter::Config &config, QObject *parent)
    : KeyingGate(parent)
    , m_client(client)
    , m_required(!config.group.isEmpty())
    , m_arbiter(config)
{
    m_clock.start();
    m_arbiter.publish = [this](const QString &topic, const QByteArray &payload, bool retained) {
        m_client.publish(topic, payload, retained, 1);
    };
    m_arbiter.subscribe = [this](const QString &pattern) { m_client.subscribe(pattern, 1); };
    // Queued, and dropped if the request was withdrawn meanwhile.
    m_arbiter.granted = [this] {
        QMetaObject::invokeMethod(
            this, [this, serial = m_serial] { if (serial == m_serial) emit granted(); }, Qt::QueuedConnection);
    };
    m_arbiter.refused = [this](const QString &message) {
        QMetaObject::invokeMethod(
            this, [this, message, serial = m_serial] { if (serial == m_serial) emit refused(message); },
            Qt::QueuedConnection);
    };
    m_arbiter.ownerChanged = [this](const QString &owner) { emit ownerChanged(owner); };
    m_arbiter.inhibitChanged = [this](bool inhibited) { emit inhibitChanged(inhibited); };

    connect(&client, &MqttClient::connected, this, [this] {
        m_arbiter.connected(now());
        emit brokerStateChanged(true, QString());
    });
    connect(&client, &MqttClient::connectionLost, this, [this](const QString &message) {
        m_arbiter.disconnected(now());
        emit brokerStateChanged(false, message);
    });
    connect(&client, &MqttClient::messageReceived, this,
            [this](const QString &topic, const QByteArray &payload, bool retained) {
                m_arbiter.messageArrived(topic, payload, retained, now());
            });
    connect(&m_tick, &QTimer::timeout, this, [this] { m_arbiter.tick(now()); });
    if (!config.group.isEmpty())
        m_tick.start(TickMs);
}

void PositionInterlock::request()
{
    ++m_serial;
    m_arbiter.request(now());
}

void PositionInterlock::chainReleased()
{
    ++m_serial;
    m_arbiter.release(now());
}
