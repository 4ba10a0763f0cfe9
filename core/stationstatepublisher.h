#pragma once

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

// The station's state for anyone on the broker (a home-automation system, a
// display at another position), retained under
// zelvo-footswitch2/<Station>/<Position>/:
//   status          online | offline (plain text; "offline" is also the will)
//   state           {"state":"rx"|"tx"|"timed-out"|"unavailable","keyed":bool,"inhibited":bool}
//   outputs         {"keyed":k,"count":N}
//   output/<n>      {"name":"...","state":"...","keyed":bool}, n from 1
//   source          {"source":"footswitch"|"Tx button"|"rigctl client ..."|""}
//   time-on-air     {"today_s":<whole seconds>,"date":"YYYY-MM-DD"}
// The keys are stable: new ones may be added, none renamed. Each value is
// published once per change; on every (re)connection all of them again,
// since a broker without persistence forgets them. Fed by plain values, so
// that it knows nothing of the engine.
class StationStatePublisher : public QObject
{
    Q_OBJECT

public:
    using Publish = std::function<void(const QString &topic, const QByteArray &payload, bool retained)>;

    StationStatePublisher(const QString &station, const QString &position, Publish publish,
                          QObject *parent = nullptr);

    // The topic of the status, for the connection's will, and what the
    // program says there before a clean exit.
    QString statusTopic() const { return topic(QStringLiteral("status")); }
    static QByteArray offline() { return QByteArrayLiteral("offline"); }
    QString topic(const QString &leaf) const { return m_prefix + leaf; }

public slots:
    void brokerConnected();
    void brokerLost();
    void setState(const QString &state, bool keyed, bool inhibited);
    void setOutputs(int keyed, int count);
    void setOutput(int number, const QString &name, const QString &state, bool keyed);
    void setSource(const QString &source);
    // Today's time on air; the date is the local date the figure belongs to.
    void setTodaySeconds(double seconds, const QDate &date = QDate::currentDate());

private:
    void put(const QString &leaf, const QByteArray &payload);

    QString m_prefix;
    Publish m_publish;
    bool m_connected = false;
    // What the broker was last given (or will be on connection), by leaf.
    QMap<QString, QByteArray> m_values;
};
