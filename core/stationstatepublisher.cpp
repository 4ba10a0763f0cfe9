#include "core/stationstatepublisher.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

StationStatePublisher::StationStatePublisher(const QString &station, const QString &position, Publish publish,
                                             QObject *parent)
    : QObject(parent)
    , m_prefix(QStringLiteral("zelvo-footswitch2/%1/%2/").arg(station, position))
    , m_publish(std::move(publish))
{
    m_values.insert(QStringLiteral("status"), QByteArrayLiteral("online"));
}

void StationStatePublisher::brokerConnected()
{
    m_connected = true;
    // The status first: it says the rest is current.
    m_publish(topic(QStringLiteral("status")), m_values.value(QStringLiteral("status")), true);
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
        if (it.key() != QLatin1String("status"))
            m_publish(topic(it.key()), it.value(), true);
    }
}

void StationStatePublisher::brokerLost()
{
    m_connected = false;
}

void StationStatePublisher::setState(const QString &state, bool keyed, bool inhibited)
{
    put(QStringLiteral("state"),
        json({{QStringLiteral("state"), state},
              {QStringLiteral("keyed"), keyed},
              {QStringLiteral("inhibited"), inhibited}}));
}

void StationStatePublisher::setOutputs(int keyed, int count)
{
    put(QStringLiteral("outputs"), json({{QStringLiteral("keyed"), keyed}, {QStringLiteral("count"), count}}));
}

void StationStatePublisher::setOutput(int number, const QString &name, const QString &state, bool keyed)
{
    put(QStringLiteral("output/%1").arg(number),
        json({{QStringLiteral("name"), name}, {QStringLiteral("state"), state}, {QStringLiteral("keyed"), keyed}}));
}

void StationStatePublisher::setSource(const QString &source)
{
    put(QStringLiteral("source"), json({{QStringLiteral("source"), source}}));
}

void StationStatePublisher::setTodaySeconds(double seconds, const QDate &date)
{
    // Whole seconds: a figure that moves by the millisecond would be a
    // message each time the engine reports.
    put(QStringLiteral("time-on-air"),
        json({{QStringLiteral("today_s"), qint64(std::floor(std::max(seconds, 0.0)))},
              {QStringLiteral("date"), date.toString(Qt::ISODate)}}));
}

void StationStatePublisher::put(const QString &leaf, const QByteArray &payload)
{
    const auto found = m_values.constFind(leaf);
    if (found != m_values.cend() && found.value() == payload)
        return;
    m_values.insert(leaf, payload);
    if (m_connected)
        m_publish(topic(leaf), payload, true);
}
