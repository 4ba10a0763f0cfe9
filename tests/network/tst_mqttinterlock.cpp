#include "core/positioninterlock.h"
#include "core/stationstatepublisher.h"
#include "platform/mqtt/mqttclient.h"
#include "support/mosquittobroker.h"
#include "support/rigtool.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

MqttConfig clientConfig(const QString &position, quint16 port, const QByteArray &will = "offline")
{
    MqttConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = port;
    config.clientId = position;
    config.willTopic = QStringLiteral("zelvo-footswitch2/station/%1/status").arg(position);
    config.willPayload = will;
    return config;
}

// One operating position of group "g": its own connection and interlock,
// with its answers counted.
struct Position
{
    Position(const QString &name, quint16 port)
        : interlock(client, {QStringLiteral("station"), name, QStringLiteral("g")})
    {
        QObject::connect(&interlock, &PositionInterlock::granted, [this] {
            ++grants;
            latencyUs = pressed.nsecsElapsed() / 1000;
        });
        QObject::connect(&interlock, &PositionInterlock::refused, [this](const QString &why) { refusals << why; });
        client.start(clientConfig(name, port));
    }
    int answers() const { return grants + int(refusals.size()); }

    MqttClient client;
    PositionInterlock interlock;
    int grants = 0;
    QStringList refusals;
    QElapsedTimer pressed;
    qint64 latencyUs = 0;
};

// The retained messages under the station, as Debian's client reads them.
QStringList retainedMessages(quint16 port, int count, const QString &filter = QStringLiteral("zelvo-footswitch2/#"))
{
    QProcess sub;
    sub.start(QStringLiteral("mosquitto_sub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                                QString::number(port), QStringLiteral("-v"), QStringLiteral("-t"), filter,
                                                QStringLiteral("-C"), QString::number(count), QStringLiteral("-W"),
                                                QStringLiteral("2")});
    sub.waitForFinished(5000);
    QStringList lines = QString::fromUtf8(sub.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

} // namespace

class TestMqttInterlock : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_broker.start()); }
    void cleanup() { m_broker.stop(); }
    void pressesAtTheSameMoment();
    void ownerDies_data();
    void ownerDies();
    void brokerLostAndBack();
    void stateTopics();
    void tls_data();
    void tls();

private:
    MosquittoBroker m_broker;
};

void TestMqttInterlock::pressesAtTheSameMoment()
{
    Position a(QStringLiteral("alpha"), m_broker.port());
    Position b(QStringLiteral("bravo"), m_broker.port());
    QTRY_VERIFY(a.interlock.isBrokerUp() && b.interlock.isBrokerUp());

    // What settling costs: a press alone, to its grant.
    QList<qint64> latenciesUs;
    for (int i = 0; i < 20; ++i) {
        // An event loop of its own: QTRY_ polls only every 10 ms.
        QEventLoop loop;
        connect(&a.interlock, &PositionInterlock::granted, &loop, &QEventLoop::quit);
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        a.pressed.start();
        a.interlock.request();
        loop.exec();
        QCOMPARE(a.grants, i + 1);
        latenciesUs << a.latencyUs;
        a.interlock.chainReleased();
        QTRY_VERIFY(b.interlock.owner().isEmpty());
    }
    std::sort(latenciesUs.begin(), latenciesUs.end());
    qInfo("Press to grant on loopback: median %lld us, longest %lld us", latenciesUs.at(latenciesUs.size() / 2),
          latenciesUs.last());

    a.grants = 0;
    for (int round = 0; round < 200; ++round) {
        Position &first = round % 2 ? a : b;
        Position &second = round % 2 ? b : a;
        const int aGrants = a.grants;
        const int grantsBefore = a.grants + b.grants;
        const int answersBefore = a.answers() + b.answers();
        first.interlock.request();
        second.interlock.request();
        QTRY_COMPARE(a.answers() + b.answers(), answersBefore + 2);
        QCOMPARE(a.grants + b.grants, grantsBefore + 1);
        Position &winner = a.grants > aGrants ? a : b;
        Position &loser = &winner == &a ? b : a;
        QCOMPARE(loser.refusals.last(),
                 QStringLiteral("Interlocked: %1 is transmitting").arg(&winner == &a ? "alpha" : "bravo"));
        winner.interlock.chainReleased();
        QTRY_VERIFY(a.interlock.owner().isEmpty() && b.interlock.owner().isEmpty());
    }
    QVERIFY(a.grants > 0 && b.grants > 0);
}

void TestMqttInterlock::ownerDies_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("earliestMs");
    // Its socket closed: the broker publishes its will at once.
    QTest::newRow("crashed") << false << 0;
    // A claim never renewed (a position frozen, its cable pulled): it
    // expires after its ttl, counted by the others.
    QTest::newRow("silent") << true << 2500;
}

void TestMqttInterlock::ownerDies()
{
    QFETCH(bool, silent);
    QFETCH(int, earliestMs);
    auto a = std::make_unique<Position>(QStringLiteral("alpha"), m_broker.port());
    Position b(QStringLiteral("bravo"), m_broker.port());
    QTRY_VERIFY(a->interlock.isBrokerUp() && b.interlock.isBrokerUp());
    QElapsedTimer clock;
    const QString owner = silent ? QStringLiteral("zulu") : QStringLiteral("alpha");
    if (silent) {
        QCOMPARE(QProcess::execute(QStringLiteral("mosquitto_pub"),
                                   {QStringLiteral("-p"), QString::number(m_broker.port()), QStringLiteral("-r"),
                                    QStringLiteral("-t"), QStringLiteral("zelvo-footswitch2/station/interlock/g/zulu"),
                                    QStringLiteral("-m"), QStringLiteral(R"({"claim":1,"ttl_ms":3000})")}),
                 0);
        clock.start();
    } else {
        a->interlock.request();
        QTRY_COMPARE(a->grants, 1);
    }
    QTRY_COMPARE(b.interlock.owner(), owner);
    if (!silent) {
        clock.start();
        a.reset();
    }
    QTRY_COMPARE_WITH_TIMEOUT(b.interlock.owner(), QString(), 4500);
    qInfo("The group was free %lld ms after its owner died", clock.elapsed());
    QVERIFY(clock.elapsed() >= earliestMs);
    b.interlock.request();
    QTRY_COMPARE(b.grants, 1);
}

void TestMqttInterlock::brokerLostAndBack()
{
    Position a(QStringLiteral("alpha"), m_broker.port());
    QSignalSpy lost(&a.client, &MqttClient::connectionLost);
    QTRY_VERIFY(a.interlock.isBrokerUp());

    m_broker.stop();
    QTRY_VERIFY(!a.interlock.isBrokerUp());
    a.interlock.request();
    QTRY_COMPARE(a.refusals, QStringList{QStringLiteral("The interlock's broker cannot be reached")});
    // Attempts at 0.5, 1.5 and 3.5 s fail, and are not told again.
    QTest::qWait(3800);
    QCOMPARE(lost.size(), 1);

    QVERIFY(m_broker.start());
    QTRY_VERIFY_WITH_TIMEOUT(a.interlock.isBrokerUp(), 10000);
    a.interlock.request();
    QTRY_COMPARE(a.grants, 1);
}

void TestMqttInterlock::stateTopics()
{
    MqttClient client;
    int published = 0;
    StationStatePublisher publisher(QStringLiteral("station"), QStringLiteral("alpha"),
                                    [&](const QString &topic, const QByteArray &payload, bool retained) {
                                        ++published;
                                        client.publish(topic, payload, retained);
                                    });
    connect(&client, &MqttClient::connected, &publisher, &StationStatePublisher::brokerConnected);
    // Told apart from the goodbye below.
    client.start(clientConfig(QStringLiteral("alpha"), m_broker.port(), "offline (will)"));
    publisher.setState(QStringLiteral("tx"), true, false);
    publisher.setOutputs(1, 2);
    publisher.setOutput(1, QStringLiteral("Relay COM 2"), QStringLiteral("keyed"), true);
    publisher.setSource(QStringLiteral("footswitch"));
    publisher.setTodaySeconds(62.7, QDate(2026, 12, 8));
    QTRY_COMPARE(published, 6);
    // Once per change.
    publisher.setState(QStringLiteral("tx"), true, false);
    publisher.setTodaySeconds(62.9, QDate(2026, 12, 8));
    publisher.setOutput(2, QStringLiteral("IC-7300"), QStringLiteral("released"), false);
    QCOMPARE(published, 7);

    const QString at = QStringLiteral("zelvo-footswitch2/station/alpha/");
    const QStringList expected{
        at + R"(output/1 {"keyed":true,"name":"Relay COM 2","state":"keyed"})",
        at + R"(output/2 {"keyed":false,"name":"IC-7300","state":"released"})",
        at + R"(outputs {"count":2,"keyed":1})",
        at + R"(source {"source":"footswitch"})",
        at + R"(state {"inhibited":false,"keyed":true,"state":"tx"})",
        at + "status online",
        at + R"(time-on-air {"date":"2026-12-08","today_s":62})",
    };
    QTRY_COMPARE(retainedMessages(m_broker.port(), int(expected.size())), expected);

    QVERIFY(client.finish(2000, publisher.statusTopic(), StationStatePublisher::offline()));
    QCOMPARE(retainedMessages(m_broker.port(), 1, publisher.statusTopic()), QStringList{at + "status offline"});
}

void TestMqttInterlock::tls_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("lost");
    QTest::newRow("trusted") << "ca.pem" << "";
    QTest::newRow("a CA that did not sign the broker's certificate")
        << "other-ca.pem" << "The MQTT broker 127.0.0.1:%1 cannot be reached (A TLS error occurred.); trying again.";
}

// mqtts://: the handshake of a connection that never waits, on the broker's
// TLS listener, with the rig's certificates.
void TestMqttInterlock::tls()
{
    QFETCH(QString, caFile);
    QFETCH(QString, lost);
    QTemporaryDir certificates;
    QString errors;
    QVERIFY2(runRigTool({QStringLiteral("certificates"), certificates.path()}, &errors), qPrintable(errors));
    MosquittoBroker broker;
    broker.setTls(certificates.path());
    QVERIFY(broker.start());

    MqttClient client;
    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy lostSpy(&client, &MqttClient::connectionLost);
    MqttConfig config = clientConfig(QStringLiteral("alpha"), broker.port());
    config.tls = true;
    config.caFile = certificates.filePath(caFile);
    client.start(config);
    QTRY_COMPARE(connected.size() + lostSpy.size(), 1);
    QCOMPARE(lostSpy.value(0).value(0).toString(), lost.isEmpty() ? QString() : lost.arg(broker.port()));
}

QTEST_GUILESS_MAIN(TestMqttInterlock)

#include "tst_mqttinterlock.moc"
