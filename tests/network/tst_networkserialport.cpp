#include "platform/net/closingconnections.h"
#include "platform/net/networkaddress.h"
#include "platform/net/networkserialport.h"
#include "platform/serial/systemserialports.h"
#include "platform/storage/qsettingsstore.h"
#include "core/storedportmappings.h"
#include "core/keyingengine.h"
#include "core/serialline.h"
#include "rfc2217peerprocess.h"
#include "support/fakeserialports.h"
#include "support/fakesettingsstore.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <future>
#include <optional>

#include <unistd.h>

namespace {
// One CTS read through the adapter; -1 when the read failed.
int ctsOf(NetworkSerialPort &port)
{
    bool holding = false;
    if (!port.readCts(&holding))
        return -1;
    return holding ? 1 : 0;
}

// The result of a background open, once its callback has run.
struct BackgroundOpen
{
    std::optional<bool> opened;
    int calls = 0;
    std::function<void(bool)> callback()
    {
        return [this](bool result) {
            opened = result;
            ++calls;
        };
    }
};

// The footswitch on a network port (number 1), the relay in memory.
class NetworkFootswitch : public SerialPortFactory
{
public:
    explicit NetworkFootswitch(const QString &address)
        : m_address(address)
    {
    }
    std::unique_ptr<SerialPortDevice> create(int number) override
    {
        if (number == 1)
            return std::make_unique<NetworkSerialPort>(m_address);
        return relay.create(number);
    }
    FakeSerialPorts relay;

private:
    QString m_address;
};

quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    return server.serverPort();
}
}

class TestNetworkSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void shouldParseHostAndPortFromTheAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("ipv4") << "rfc2217://127.0.0.1:2217" << true << "127.0.0.1" << 2217;
        QTest::newRow("name") << "rfc2217://radio-site.example:4001" << true << "radio-site.example" << 4001;
        QTest::newRow("ipv6") << "rfc2217://[::1]:2217" << true << "::1" << 2217;
        QTest::newRow("trailing slash") << "rfc2217://10.0.0.5:7000/" << true << "10.0.0.5" << 7000;
        QTest::newRow("upper-case scheme") << "RFC2217://10.0.0.5:7000" << true << "10.0.0.5" << 7000;
        QTest::newRow("no port") << "rfc2217://127.0.0.1" << false << "" << 0;
        QTest::newRow("port zero") << "rfc2217://127.0.0.1:0" << false << "" << 0;
        QTest::newRow("port too big") << "rfc2217://127.0.0.1:70000" << false << "" << 0;
        QTest::newRow("port not a number") << "rfc2217://127.0.0.1:ab" << false << "" << 0;
        QTest::newRow("no host") << "rfc2217://:2217" << false << "" << 0;
        QTest::newRow("unbracketed ipv6") << "rfc2217://::1:2217" << false << "" << 0;
        QTest::newRow("path") << "rfc2217://127.0.0.1:2217/dev/ttyS0" << false << "" << 0;
        QTest::newRow("query") << "rfc2217://127.0.0.1:2217?baud=9600" << false << "" << 0;
        QTest::newRow("no slashes") << "rfc2217:127.0.0.1:2217" << false << "" << 0;
    }

    void shouldParseHostAndPortFromTheAddress()
    {
        QFETCH(QString, address);
        QFETCH(bool, valid);
        const NetworkAddress parsed = NetworkAddress::parse(address);
        QCOMPARE(parsed.isValid(), valid);
        QCOMPARE(parsed.error().isEmpty(), valid);
        if (valid) {
            QTEST(parsed.host(), "host");
            QTEST(int(parsed.port()), "port");
        }
    }

    void shouldFailToOpenAMalformedAddressNamingIt()
    {
        NetworkSerialPort port(QStringLiteral("rfc2217://127.0.0.1"));
        QVERIFY(!port.open(false));
        QCOMPARE(port.failure(), SerialPortDevice::Failure::OpenFailed);
        QVERIFY2(port.errorString().contains(QLatin1String("rfc2217://127.0.0.1")), qPrintable(port.errorString()));
    }

    void shouldMapRfc2217SettingsToNetworkPorts()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("ports.ini"));
        {
            QSettings settings(file, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Ports/Com2"), QStringLiteral("rfc2217://[::1]:2217"));
            settings.setValue(QStringLiteral("Ports/Com3"), QStringLiteral("rfc2217://nowhere"));
            settings.setValue(QStringLiteral("Ports/Com4"), QStringLiteral("/dev/pts/7"));
            settings.setValue(QStringLiteral("Ports/Com5"), QStringLiteral("rfc2217+tls://radio-site.example:4001"));
            settings.setValue(QStringLiteral("Tls/Cert-File"), dir.filePath(QStringLiteral("client.pem")));
        }
        QFile certificate(dir.filePath(QStringLiteral("client.pem")));
        QVERIFY(certificate.open(QIODevice::WriteOnly));
        certificate.close();
        QSettingsStore store(file);
        StoredPortMappings mappings(store);
        SystemSerialPorts ports(mappings);
        std::unique_ptr<SerialPortDevice> mapped = ports.create(2);
        auto *network = dynamic_cast<NetworkSerialPort *>(mapped.get());
        QVERIFY(network);
        QCOMPARE(network->host(), QStringLiteral("::1"));
        QCOMPARE(network->port(), quint16(2217));

        // Refused before any connection, naming the address.
        std::unique_ptr<SerialPortDevice> malformed = ports.create(3);
        QVERIFY(!malformed->open(false));
        QCOMPARE(malformed->failure(), SerialPortDevice::Failure::OpenFailed);
        QVERIFY2(malformed->errorString().contains(QLatin1String("rfc2217://nowhere")), qPrintable(malformed->errorString()));

        std::unique_ptr<SerialPortDevice> local = ports.create(4);
        QVERIFY(!dynamic_cast<NetworkSerialPort *>(local.get()));

        std::unique_ptr<SerialPortDevice> secure = ports.create(5);
        QVERIFY(dynamic_cast<NetworkSerialPort *>(secure.get()));
        QVERIFY(static_cast<NetworkSerialPort *>(secure.get())->isTls());
        // Half a client identity is refused before any connection is tried.
        QVERIFY(!secure->open(false));
        QVERIFY2(secure->errorString().contains(QLatin1String("Cert-File and Key-File")), qPrintable(secure->errorString()));
    }

    void shouldFailQuicklyWhenNothingListens()
    {
        quint16 closedPort = 0;
        {
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost));
            closedPort = server.serverPort();
        }
        NetworkSerialPort port(QStringLiteral("rfc2217://127.0.0.1:%1").arg(closedPort));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!port.open(false));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(port.failure(), SerialPortDevice::Failure::OpenFailed);
    }

    void shouldGiveUpOpeningAfterTwoSecondsWhenTheServerNeverAnswers()
    {
        // Accepts (the kernel completes the handshake) and never says a word.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        NetworkSerialPort port(QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.serverPort()));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!port.open(false));
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= NetworkSerialPort::OpenTimeoutMs - 100 && elapsed < NetworkSerialPort::OpenTimeoutMs + 500,
                 qPrintable(QString::number(elapsed)));
        QCOMPARE(port.failure(), SerialPortDevice::Failure::OpenFailed);
        QVERIFY2(port.errorString().contains(QString::number(silent.serverPort())), qPrintable(port.errorString()));
    }

    void shouldRefuseLineOperationsOnAPortNeverOpened()
    {
        NetworkSerialPort port(QStringLiteral("rfc2217://127.0.0.1:2217"));
        bool holding = true;
        QVERIFY(!port.readCts(&holding));
        QVERIFY(holding);
        QCOMPARE(port.failure(), SerialPortDevice::Failure::Other);
        QVERIFY(!port.setRts(true));
    }

    void shouldConfigureTheRemotePortAndDriveRtsLowOnOpen()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        // The peer raises RTS as a client connects, like a tty being opened:
        // it must end up low all the same.
        QTRY_VERIFY(peer.rtsChanges() >= 2);
        QVERIFY(!peer.rts());
        peer.requestState();
        QTRY_VERIFY(!peer.lastState().isEmpty());
        QVERIFY2(peer.lastState().contains(QLatin1String("baud=9600 bytesize=8 parity=N stopbits=1 rtscts=0")),
                 qPrintable(peer.lastState()));
        port.close();
    }

    void shouldOpenWithRtsAndDtrAsAskedTo()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        QVERIFY2(port.open(SerialPortDevice::OpenLevels{true, true}), qPrintable(port.errorString()));
        peer.requestState();
        QTRY_VERIFY(peer.lastState().contains(QLatin1String("rts=1")));
        QVERIFY2(peer.lastState().contains(QLatin1String("dtr=1")), qPrintable(peer.lastState()));
    }

    void shouldFollowCtsOfTheRemotePort()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        QCOMPARE(ctsOf(port), 0);
        peer.setCts(true);
        QTRY_COMPARE(ctsOf(port), 1);
        peer.setCts(false);
        QTRY_COMPARE(ctsOf(port), 0);
        peer.setCts(true);
        QTRY_COMPARE(ctsOf(port), 1);
    }

    void shouldDriveRtsOfTheRemotePort()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        QVERIFY(port.setRts(true));
        QTRY_VERIFY(peer.rts());
        QVERIFY(port.setRts(false));
        QTRY_VERIFY(!peer.rts());
        QVERIFY(port.setRts(true));
        QTRY_VERIFY(peer.rts());
    }

    void shouldReadCtsWithoutWaitingForTheServer()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 20; ++i)
            QCOMPARE(ctsOf(port), 0);
        QVERIFY2(timer.elapsed() < 50, qPrintable(QString::number(timer.elapsed())));
    }

    void shouldReleaseRtsOnCloseWithoutWaiting_data()
    {
        QTest::addColumn<bool>("destroyAtOnce");
        QTest::newRow("port kept") << false;
        QTest::newRow("port destroyed at once") << true;
    }

    void shouldReleaseRtsOnCloseWithoutWaiting()
    {
        QFETCH(bool, destroyAtOnce);
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("ports.ini"));
        QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("Ports/Com6"), peer.address());
        QSettingsStore store(file);
        StoredPortMappings mappings(store);
        SystemSerialPorts ports(mappings);
        std::unique_ptr<SerialPortDevice> port = ports.create(6);
        QVERIFY2(port->open(true), qPrintable(port->errorString()));
        QTRY_VERIFY(peer.rts());
        QElapsedTimer timer;
        timer.start();
        port->close();
        QVERIFY2(timer.elapsed() < 50, qPrintable(QString::number(timer.elapsed())));
        bool holding = false;
        QVERIFY(!port->readCts(&holding));
        if (destroyAtOnce)
            port.reset();
        // As at the end of the program: no event loop but this one.
        QVERIFY(ports.finishClosing(2 * ClosingConnections::BoundMs));
        QTRY_VERIFY(!peer.hasClient());
        QVERIFY(!peer.rts());
    }

    void shouldCutOffAConnectionThatCannotSayGoodbye()
    {
        // The kernel accepts for a server that never takes the connection:
        // what is left to write can never leave, so only the bound ends it.
        QTcpServer deaf;
        QVERIFY(deaf.listen(QHostAddress::LocalHost));
        deaf.pauseAccepting();
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, deaf.serverPort());
        QTRY_COMPARE(socket->state(), QAbstractSocket::ConnectedState);
        QPointer<QTcpSocket> watched = socket.get();
        socket->write(QByteArray(64 * 1024 * 1024, 'x'));
        ClosingConnections closing;
        QElapsedTimer timer;
        timer.start();
        closing.adopt(std::move(socket));
        QVERIFY2(timer.elapsed() < 50, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!closing.finish(ClosingConnections::BoundMs / 4));
        QCOMPARE(closing.count(), 1);
        QVERIFY(closing.finish(2 * ClosingConnections::BoundMs));
        QVERIFY2(timer.elapsed() >= ClosingConnections::BoundMs - 50, qPrintable(QString::number(timer.elapsed())));
        QTRY_VERIFY(watched.isNull());
    }

    void shouldOpenAgainAfterClose()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        QTRY_VERIFY(peer.hasClient());
        port.close();
        QTRY_VERIFY(!peer.hasClient());
        peer.setCts(true);
        QVERIFY2(port.open(true), qPrintable(port.errorString()));
        QTRY_COMPARE(ctsOf(port), 1);
        QTRY_VERIFY(peer.rts());
    }

    void shouldOpenInTheBackgroundAndReportItLater()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        BackgroundOpen result;
        port.openInBackground(true, result.callback());
        QVERIFY(!result.opened); // never from inside the call
        QTRY_VERIFY(result.opened);
        QVERIFY2(*result.opened, qPrintable(port.errorString()));
        QVERIFY(port.reportsLineChanges());
        QTRY_VERIFY(peer.rts());
        QCOMPARE(result.calls, 1);
    }

    void shouldFailABackgroundOpenThatNothingAnswers_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << false << "refused";
        QTest::newRow("accepted, never answered") << true << "com port control";
    }

    void shouldFailABackgroundOpenThatNothingAnswers()
    {
        QFETCH(bool, listening);
        QTcpServer silent;
        quint16 target = closedPort();
        if (listening) {
            QVERIFY(silent.listen(QHostAddress::LocalHost));
            target = silent.serverPort();
        }
        NetworkSerialPort port(QStringLiteral("rfc2217://127.0.0.1:%1").arg(target));
        // The event loop goes on turning while the open waits.
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(50);
        BackgroundOpen result;
        port.openInBackground(false, result.callback());
        QTRY_VERIFY_WITH_TIMEOUT(result.opened, NetworkSerialPort::OpenTimeoutMs * 3);
        QVERIFY(!*result.opened);
        QCOMPARE(port.failure(), SerialPortDevice::Failure::OpenFailed);
        QVERIFY(!port.reportsLineChanges());
        QFETCH(QString, reason);
        QVERIFY2(port.errorString().contains(reason, Qt::CaseInsensitive), qPrintable(port.errorString()));
        if (listening)
            QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    }

    void shouldNeverReportABackgroundOpenThatWasClosed()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        BackgroundOpen cancelled;
        port.openInBackground(false, cancelled.callback());
        port.close();
        // Another open's report comes after anything the first could post.
        Rfc2217PeerProcess otherPeer;
        QVERIFY2(otherPeer.start(), qPrintable(otherPeer.errorOutput()));
        NetworkSerialPort other(otherPeer.address());
        BackgroundOpen later;
        other.openInBackground(false, later.callback());
        QTRY_VERIFY(later.opened);
        QVERIFY(*later.opened);
        QCOMPARE(cancelled.calls, 0);
    }

    void shouldBoundAHostLookupThatHangs()
    {
        auto release = std::make_shared<std::promise<void>>();
        const std::shared_future<void> released = release->get_future().share();
        const NetworkSerialPort::HostResolver hanging = [released](const QString &) {
            released.wait();
            return QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost)};
        };
        // Were the wait unbounded, this would never return.
        QVERIFY(!NetworkSerialPort::lookUpWithin(QStringLiteral("slow.example"), QDeadlineTimer(100), hanging));
        release->set_value(); // the abandoned lookup ends on its own
        const auto found = NetworkSerialPort::lookUpWithin(QStringLiteral("localhost"), QDeadlineTimer(5000), hanging);
        QCOMPARE(found, std::optional<QList<QHostAddress>>({QHostAddress(QHostAddress::LocalHost)}));
    }

    void shouldFailToOpenANameThatCannotBeFound()
    {
        // .invalid never resolves; wherever the lookup takes long (no name
        // server answering), open() still ends at its bound.
        NetworkSerialPort port(QStringLiteral("rfc2217://zelvo-test.invalid:2217"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!port.open(false));
        QVERIFY2(timer.elapsed() < NetworkSerialPort::OpenTimeoutMs + 500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(port.failure(), SerialPortDevice::Failure::OpenFailed);
        QVERIFY2(port.errorString().contains(QLatin1String("cannot find zelvo-test.invalid")), qPrintable(port.errorString()));

        BackgroundOpen result;
        port.openInBackground(false, result.callback());
        QTRY_VERIFY_WITH_TIMEOUT(result.opened, NetworkSerialPort::OpenTimeoutMs * 3);
        QVERIFY(!*result.opened);
        QVERIFY2(port.errorString().contains(QLatin1String("cannot find zelvo-test.invalid")), qPrintable(port.errorString()));
    }

    void shouldOpenByHostName()
    {
        // localhost may name ::1 first, where the peer does not listen: the
        // next address is tried within the same bound.
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(QStringLiteral("rfc2217://localhost:%1").arg(peer.port()));
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        port.close();
        BackgroundOpen result;
        port.openInBackground(false, result.callback());
        QTRY_VERIFY(result.opened);
        QVERIFY2(*result.opened, qPrintable(port.errorString()));
    }

    void shouldRunTheLineChangeHandlerWithoutBeingAsked()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        int changes = 0;
        port.setLineChangeHandler([&changes] { ++changes; });
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        QVERIFY(port.reportsLineChanges());
        const int before = changes;
        peer.setCts(true);
        // Nothing here calls into the port until the handler has run.
        QTRY_VERIFY(changes > before);
        bool holding = false;
        QVERIFY(port.readCts(&holding));
        QVERIFY(holding);
    }

    void shouldSendAHeartbeatOnlyWhenAskedTo()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        // The lines alone never send a data byte.
        QVERIFY(port.setRts(true));
        QVERIFY(port.setDtr(true));
        QTRY_VERIFY(peer.rts());
        peer.requestState();
        QTRY_VERIFY(!peer.lastState().isEmpty());
        QCOMPARE(peer.dataBytes(), 0);

        QElapsedTimer timer;
        timer.start();
        port.setHeartbeat(true);
        QTRY_VERIFY_WITH_TIMEOUT(peer.dataBytes() >= 4, 5000);
        // About two a second: four take at least three intervals.
        QVERIFY2(timer.elapsed() >= 3 * NetworkSerialPort::HeartbeatIntervalMs - 100,
                 qPrintable(QString::number(timer.elapsed())));
        QVERIFY(peer.rts()); // a data byte is no line change
    }

    void shouldOfferTheBytesThatReleaseTheLinesAfterACrash()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        QCOMPARE(port.crashRelease().kind, SerialPortDevice::CrashRelease::Kind::None);
        QVERIFY2(port.open(true), qPrintable(port.errorString()));
        QTRY_VERIFY(peer.rts());
        const SerialPortDevice::CrashRelease release = port.crashRelease();
        QCOMPARE(release.kind, SerialPortDevice::CrashRelease::Kind::SocketBytes);
        QVERIFY(release.descriptor >= 0);
        // What a fatal-signal handler does: one write() on the descriptor.
        QCOMPARE(::write(release.descriptor, release.bytes.constData(), size_t(release.bytes.size())),
                 ssize_t(release.bytes.size()));
        QTRY_VERIFY(!peer.rts());
        port.close();
        QCOMPARE(port.crashRelease().kind, SerialPortDevice::CrashRelease::Kind::None);
    }

    void shouldReportTheDeviceLostWhenTheServerDies()
    {
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkSerialPort port(peer.address());
        int changes = 0;
        port.setLineChangeHandler([&changes] { ++changes; });
        QVERIFY2(port.open(false), qPrintable(port.errorString()));
        peer.setCts(true);
        QTRY_COMPARE(ctsOf(port), 1);
        const int before = changes;
        peer.kill();
        // Known from the event loop, before anyone reads.
        QTRY_VERIFY(changes > before);
        QCOMPARE(ctsOf(port), -1);
        QCOMPARE(port.failure(), SerialPortDevice::Failure::DeviceLost);
        QVERIFY(!port.setRts(true));
        QCOMPARE(port.failure(), SerialPortDevice::Failure::DeviceLost);
    }

    void shouldReportTheDeviceLostWhenTheServerDropsTheClient()
    {
        // Through the serial line object, as the poll tick sees it: the line
        // closes itself and raises DeviceLost, and can be opened again.
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("ports.ini"));
        QSettings(file, QSettings::IniFormat).setValue(QStringLiteral("Ports/Com5"), peer.address());
        QSettingsStore store(file);
        StoredPortMappings mappings(store);
        SystemSerialPorts ports(mappings);
        SerialLine line(ports);
        line.select(5);
        line.open();
        QTRY_VERIFY(peer.hasClient());
        peer.setCts(true);
        QTRY_VERIFY(line.ctsHolding());

        peer.dropClient();
        // Poll as the tick does, with a deadline, until a read fails.
        std::optional<SerialLineError::Kind> failed;
        QString what;
        const QDeadlineTimer deadline(5000);
        while (!failed && !deadline.hasExpired()) {
            try {
                line.ctsHolding();
                QTest::qWait(10);
            } catch (const SerialLineError &error) {
                failed = error.kind();
                what = QString::fromUtf8(error.what());
            }
        }
        QVERIFY2(failed == SerialLineError::Kind::DeviceLost, qPrintable(what));
        QVERIFY(!line.isOpen());
        line.open();
        QTRY_VERIFY(line.ctsHolding());
    }

    void shouldKeepTheHeartbeatOnAnOutputThatRecoveryOpened()
    {
        // Footswitch and relay on two peers, wired through the engine as the
        // program does; the relay's server drops it and the engine opens it
        // again on its own.
        Rfc2217PeerProcess footswitch;
        Rfc2217PeerProcess relay;
        QVERIFY2(footswitch.start(), qPrintable(footswitch.errorOutput()));
        QVERIFY2(relay.start(), qPrintable(relay.errorOutput()));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("ports.ini"));
        {
            QSettings settings(file, QSettings::IniFormat);
            settings.setValue(QStringLiteral("Ports/Com1"), footswitch.address());
            settings.setValue(QStringLiteral("Ports/Com2"), relay.address());
        }
        QSettingsStore store(file);
        StoredPortMappings mappings(store);
        SystemSerialPorts ports(mappings);
        KeyingEngine engine(ports);
        engine.configure(store);
        QSignalSpy states(&engine, &KeyingEngine::stateChanged);
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &engine, &KeyingEngine::poll);
        ticker.start(KeyingEngine::PollIntervalMs);
        engine.openPorts(QStringLiteral("1"), QStringLiteral("2"));
        QTRY_VERIFY_WITH_TIMEOUT(relay.dataBytes() >= 1, 5000);

        relay.dropClient();
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(states.cbegin(), states.cend(), [](const QList<QVariant> &change) {
                                     return change.at(1).value<KeyingEngine::Cause>() == KeyingEngine::Cause::OutputLost;
                                 }), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(engine.state(), KeyingEngine::State::Released, 10000);
        const int before = relay.dataBytes();
        QTRY_VERIFY_WITH_TIMEOUT(relay.dataBytes() >= before + 2, 3 * NetworkSerialPort::HeartbeatIntervalMs + 2000);
    }

    void shouldReleaseWhenTheFootswitchLinkDiesSilently()
    {
        // Only a network namespace of our own lets the test take its loopback
        // down: the test runs itself again inside one.
        if (qEnvironmentVariableIsEmpty("ZELVO_IN_NETWORK_NAMESPACE")) {
            if (QProcess::execute(QStringLiteral("unshare"), {QStringLiteral("-rn"), QStringLiteral("true")}) != 0)
                QSKIP("unshare -rn is not permitted here: no network namespace of our own");
            QProcess inside;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("ZELVO_IN_NETWORK_NAMESPACE"), QStringLiteral("1"));
            inside.setProcessEnvironment(environment);
            inside.setProcessChannelMode(QProcess::MergedChannels);
            inside.start(QStringLiteral("unshare"),
                         {QStringLiteral("-rn"), QStringLiteral("sh"), QStringLiteral("-c"),
                          QStringLiteral("PATH=$PATH:/usr/sbin:/sbin ip link set lo up && exec \"$0\" \"$1\""),
                          QCoreApplication::applicationFilePath(), QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(inside.waitForFinished(60000));
            QVERIFY2(inside.exitCode() == 0, inside.readAll().constData());
            return;
        }
        Rfc2217PeerProcess peer;
        QVERIFY2(peer.start(), qPrintable(peer.errorOutput()));
        NetworkFootswitch ports(peer.address());
        FakeSettingsStore settings;
        KeyingEngine engine(ports);
        engine.configure(settings);
        QSignalSpy states(&engine, &KeyingEngine::stateChanged);
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &engine, &KeyingEngine::poll);
        ticker.start(KeyingEngine::PollIntervalMs);
        engine.openPorts(QStringLiteral("1"), QStringLiteral("2"));
        QTRY_VERIFY_WITH_TIMEOUT(engine.output().isOpen(), 5000);
        peer.setCts(true);
        QTRY_COMPARE_WITH_TIMEOUT(engine.state(), KeyingEngine::State::KeyedByFootswitch, 5000);
        QVERIFY(ports.relay.line(2)->rts);

        // Nothing tells the port: only the keepalive can find the link dead.
        QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"),
                                   QStringLiteral("PATH=$PATH:/usr/sbin:/sbin ip link set lo down")}), 0);
        QElapsedTimer timer;
        timer.start();
        constexpr int boundS = NetworkSession::KeepAliveIdleS + NetworkSession::KeepAliveIntervalS * NetworkSession::KeepAliveCount;
        QTRY_COMPARE_WITH_TIMEOUT(engine.state(), KeyingEngine::State::Released, boundS * 1000 + 2000);
        QCOMPARE(states.last().at(1).value<KeyingEngine::Cause>(), KeyingEngine::Cause::InputLost);
        QVERIFY(!ports.relay.line(2)->rts);
        qInfo("released %lld ms after the link died", timer.elapsed());
    }
};

QTEST_GUILESS_MAIN(TestNetworkSerialPort)
#include "tst_networkserialport.moc"
