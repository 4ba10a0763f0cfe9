#pragma once

#include "core/interlockarbiter.h"
#include "platform/mqtt/mqttclient.h"

#include <QString>

#include <optional>

class SettingsStore;

// The connection to an MQTT broker, the names this position goes by there,
// and its interlock group. Group "Mqtt":
//   Broker                       "Off" (the default), HOST:PORT, or
//                                mqtts://HOST:PORT with the files of group
//                                "Tls"; no port: 1883, 8883 for mqtts
//   Position                     this position's name; the host name by default
//   Station                      "station" by default
//   Interlock-Group              empty (the default): no interlock
//   Interlock-When-Broker-Lost   "Refuse" (the default) or "Allow"
// Names go into topics: no "/", "+" or "#", and a position is neither
// "interlock" nor "inhibit", which are the station's own topics.
namespace MqttSettings {

inline const QString group = QStringLiteral("Mqtt");
inline const QString brokerKey = QStringLiteral("Broker");
inline const QString positionKey = QStringLiteral("Position");
inline const QString stationKey = QStringLiteral("Station");
inline const QString interlockGroupKey = QStringLiteral("Interlock-Group");
inline const QString whenBrokerLostKey = QStringLiteral("Interlock-When-Broker-Lost");

inline constexpr quint16 defaultPort = 1883;
inline constexpr quint16 defaultTlsPort = 8883;
inline constexpr int maxNameLength = 64;

struct Broker
{
    QString host;
    quint16 port = defaultPort;
    bool tls = false;
};

struct Settings
{
    // Nothing: off.
    std::optional<Broker> broker;
    QString position;
    QString station = QStringLiteral("station");
    QString interlockGroup;
    bool allowWhenBrokerLost = false;
    // Why a value in the file could not be used (it then reads as its
    // default, a broker as off), for the user; empty when all could.
    QString error;
};

Settings load(const SettingsStore &settings);

// "Off" or empty: nothing; otherwise the broker, or the reason it cannot be
// used in error.
std::optional<Broker> broker(const QString &text, QString *error = nullptr);
// Why a name cannot go into a topic; nothing when it can. Empty is allowed
// (the default applies). A position is neither "interlock" nor "inhibit".
std::optional<QString> nameError(const QString &text, bool isPosition);
// The machine's host name, the default position.
QString defaultPosition();

// What the program connects with: the TLS files from group "Tls", a client
// id of its own per station and position, the status "offline" as will.
MqttConfig clientConfig(const Settings &settings, const SettingsStore &store);
InterlockArbiter::Config interlockConfig(const Settings &settings);

} // namespace MqttSettings
