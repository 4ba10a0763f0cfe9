#pragma once

#include "core/mqttsettings.h"

#include <QObject>

#include <memory>
#include <optional>

class KeyingEngine;
class MqttClient;
class PositionInterlock;
class SettingsStore;
class StationStatePublisher;
class TimeOnAirLog;

// This position on the station's MQTT broker, as group "Mqtt" says: its
// state published for anyone to read, and its interlock with the other
// positions of its group as the engine's gate. Takes the settings each time
// the engine is configured, and connects anew only when they changed; the
// broker's connection runs on a thread of its own.
class MqttStation : public QObject
{
    Q_OBJECT

public:
    // `log` (may be null) gives today's time on air.
    MqttStation(KeyingEngine &engine, const SettingsStore &settings, TimeOnAirLog *log, QObject *parent = nullptr);
    ~MqttStation() override;

    void configure();
    // For the end of the program, after the chain has been released: says
    // "offline" and leaves the broker cleanly, waiting at most boundMs.
    void finish(int boundMs);
    PositionInterlock *interlock() const { return m_interlock.get(); }

signals:
    // The broker cannot be reached, or a stored value cannot be used: once
    // per failure, not per retry.
    void failed(const QString &message);

private:
    void stop();
    void showState();
    void showOutputs();
    void showToday();

    KeyingEngine &m_engine;
    const SettingsStore &m_settings;
    TimeOnAirLog *m_log = nullptr;
    // The connection (none: off) and the interlock in force.
    struct InForce
    {
        std::optional<MqttConfig> client;
        InterlockArbiter::Config interlock;
        bool operator==(const InForce &) const = default;
    };
    std::optional<InForce> m_inForce;
    std::unique_ptr<MqttClient> m_client;
    std::unique_ptr<PositionInterlock> m_interlock;
    std::unique_ptr<StationStatePublisher> m_publisher;
};
