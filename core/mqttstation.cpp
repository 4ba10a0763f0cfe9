#include "core/mqttstation.h"

#include "core/headlessstation.h"
#include "core/keyingengine.h"
#include "core/positioninterlock.h"
#include "core/stationstatepublisher.h"
#include "core/timeonairlog.h"
#include "platform/mqtt/mqttclient.h"

#include <QFuture>

MqttStation::MqttStation(KeyingEngine &engine, const SettingsStore &settings, TimeOnAirLog *log, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_settings(settings)
    , m_log(log)
{
    connect(&m_engine, &KeyingEngine::configured, this, &MqttStation::configure);
    connect(&m_engine, &KeyingEngine::stateChanged, this, &MqttStation::showState);
    connect(&m_engine, &KeyingEngine::inhibitedChanged, this, &MqttStation::showState);
    connect(&m_engine, &KeyingEngine::outputsKeyedChanged, this, [this] {
        showState();
        showOutputs();
    });
    connect(&m_engine, &KeyingEngine::portsChanged, this, &MqttStation::showOutputs);
    connect(&m_engine, &KeyingEngine::keyingSourceChanged, this, [this](const QString &source) {
        if (m_publisher)
            m_publisher->setSource(source);
    });
    if (m_log)
        connect(m_log, &TimeOnAirLog::transmissionEnded, this, &MqttStation::showToday);
}

MqttStation::~MqttStation()
{
    stop();
}

void MqttStation::configure()
{
    const MqttSettings::Settings wanted = MqttSettings::load(m_settings);
    InForce next{std::nullopt, MqttSettings::interlockConfig(wanted)};
    if (wanted.broker)
        next.client = MqttSettings::clientConfig(wanted, m_settings);
    if (next == m_inForce)
        return;
    m_inForce = next;
    stop();
    if (!wanted.error.isEmpty())
        emit failed(wanted.error);
    if (!next.client)
        return;

    const MqttConfig &config = *next.client;
    m_client = std::make_unique<MqttClient>();
    m_interlock = std::make_unique<PositionInterlock>(*m_client, next.interlock);
    m_publisher = std::make_unique<StationStatePublisher>(
        wanted.station, wanted.position, [client = m_client.get()](const QString &topic, const QByteArray &payload, bool retained) {
            client->publish(topic, payload, retained);
        });
    connect(m_client.get(), &MqttClient::connected, m_publisher.get(), &StationStatePublisher::brokerConnected);
    connect(m_client.get(), &MqttClient::connectionLost, m_publisher.get(), &StationStatePublisher::brokerLost);
    connect(m_client.get(), &MqttClient::connectionLost, this,
            [this, broker = QStringLiteral("%1:%2").arg(config.host).arg(config.port)](const QString &message) {
                emit failed(QStringLiteral("The MQTT broker %1 cannot be reached: %2").arg(broker, message));
            });
    m_engine.setGate(m_interlock->isRequired() ? m_interlock.get() : nullptr);
    showState();
    showOutputs();
    m_publisher->setSource(m_engine.keyingSource());
    showToday();
    m_client->start(config);
}

void MqttStation::stop()
{
    if (!m_client)
        return;
    m_engine.setGate(nullptr);
    // Without finish(): the broker publishes the will, "offline".
    m_publisher.reset();
    m_interlock.reset();
    m_client.reset();
}

void MqttStation::finish(int boundMs)
{
    if (!m_client)
        return;
    m_client->finish(boundMs, m_publisher->statusTopic(), StationStatePublisher::offline());
    stop();
}

void MqttStation::showState()
{
    if (!m_publisher)
        return;
    const KeyingEngine::State state = m_engine.state();
    const QString name = m_engine.isTransmitting()                          ? QStringLiteral("tx")
                         : state == KeyingEngine::State::TimedOut          ? QStringLiteral("timed-out")
                         : state == KeyingEngine::State::OutputUnavailable ? QStringLiteral("unavailable")
                                                                           : QStringLiteral("rx");
    m_publisher->setState(name, m_engine.isKeyed(), m_engine.isInhibited());
}

void MqttStation::showOutputs()
{
    if (!m_publisher)
        return;
    const int keyed = m_engine.keyedOutputs();
    m_publisher->setOutputs(keyed, m_engine.outputCount());
    for (int index = 0; index < m_engine.outputCount(); ++index) {
        const KeyedOutput &output = m_engine.outputAt(index);
        const QString number = output.portNumber();
        const QString name = number.isEmpty() ? output.location() : QStringLiteral("Com%1 %2").arg(number, output.location());
        m_publisher->setOutput(index + 1, name, HeadlessStation::portStateName(output.state()), index < keyed);
    }
}

void MqttStation::showToday()
{
    if (!m_log || !m_publisher)
        return;
    m_log->summary().then(this, [this](const TimeOnAirSummary &summary) {
        if (m_publisher)
            m_publisher->setTodaySeconds(double(summary.todayMs) / 1000.0);
    });
}
