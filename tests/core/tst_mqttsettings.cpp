#include "core/mqttsettings.h"
#include "support/fakesettingsstore.h"

#include <QTest>

class TestMqttSettings : public QObject
{
    Q_OBJECT

private slots:
    void load_data();
    void load();
};

void TestMqttSettings::load_data()
{
    // What the file holds in [Mqtt] ("Key=value" joined by ";").
    QTest::addColumn<QString>("stored");
    // What the program connects to, as "host port tls", "off" or the reason.
    QTest::addColumn<QString>("broker");
    QTest::addColumn<QString>("names"); // station/position/group, allow
    const QString host = MqttSettings::defaultPosition();

    QTest::newRow("nothing") << "" << "off" << "station/" + host + "/ refuse";
    QTest::newRow("off") << "Broker=off" << "off" << "station/" + host + "/ refuse";
    QTest::newRow("host and port") << "Broker= broker.lan:1884 " << "broker.lan 1884 plain" << "station/" + host + "/ refuse";
    QTest::newRow("no port") << "Broker=broker.lan" << "broker.lan 1883 plain" << "station/" + host + "/ refuse";
    QTest::newRow("mqtts") << "Broker=mqtts://[::1]" << "::1 8883 tls" << "station/" + host + "/ refuse";
    QTest::newRow("another scheme") << "Broker=http://broker.lan:80"
                                    << "Broker \"http://broker.lan:80\": Write the broker as HOST:PORT or "
                                       "mqtts://HOST:PORT."
                                    << "station/" + host + "/ refuse";
    QTest::newRow("port out of range") << "Broker=broker.lan:70000"
                                       << "Broker \"broker.lan:70000\": Write the broker as HOST:PORT or "
                                          "mqtts://HOST:PORT."
                                       << "station/" + host + "/ refuse";
    QTest::newRow("names") << "Station=dl0abc;Position=shack-1;Interlock-Group=hf;Interlock-When-Broker-Lost=ALLOW"
                           << "off" << "dl0abc/shack-1/hf allow";
    QTest::newRow("a name with a wildcard")
        << "Interlock-Group=hf/+" << "Interlock-Group \"hf/+\": No \"/\", \"+\", \"#\" or control characters: the "
                                     "name goes into MQTT topics."
        << "station/" + host + "/ refuse";
    QTest::newRow("a position named as the station's topics")
        << "Position=inhibit" << "Position \"inhibit\": \"inhibit\" is a topic of the station's own; choose another "
                                 "name."
        << "station/" + host + "/ refuse";
}

void TestMqttSettings::load()
{
    QFETCH(QString, stored);
    QFETCH(QString, broker);
    QFETCH(QString, names);
    FakeSettingsStore store;
    for (const QString &pair : stored.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        store.values.insert(QStringLiteral("Mqtt/") + pair.section(QLatin1Char('='), 0, 0),
                            pair.section(QLatin1Char('='), 1));

    const MqttSettings::Settings settings = MqttSettings::load(store);
    const QString shownBroker = !settings.error.isEmpty() ? settings.error
        : settings.broker ? QStringLiteral("%1 %2 %3").arg(settings.broker->host).arg(settings.broker->port)
                                .arg(QLatin1String(settings.broker->tls ? "tls" : "plain"))
                          : QStringLiteral("off");
    QCOMPARE(shownBroker, broker);
    QCOMPARE(QStringLiteral("%1/%2/%3 %4").arg(settings.station, settings.position, settings.interlockGroup,
                                               QLatin1String(settings.allowWhenBrokerLost ? "allow" : "refuse")),
             names);
}

QTEST_GUILESS_MAIN(TestMqttSettings)

#include "tst_mqttsettings.moc"
