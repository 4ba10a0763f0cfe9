#include "core/rigctlkeying.h"
#include "core/rigctlprotocol.h"
#include "core/rigctlserver.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <hamlib/rig.h>
#include <atomic>
#include <clocale>
#include <thread>

// The rigctld protocol on its own, then the server against Hamlib's own
// rigctl client ("Hamlib NET rigctl", model 2), as logging programs use it.
class TestRigctlServer : public QObject
{
    Q_OBJECT

private slots:
    void protocol_data();
    void protocol();
    void realClient_data();
    void realClient();
    void killedClientIsGone();
    void throughRigctld_data();
    void throughRigctld();
    void rawThroughRigctld_data();
    void rawThroughRigctld();
    void hamlibLibrary();
    void storedAddress_data();
    void storedAddress();
};

void TestRigctlServer::protocol_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<QString>("keying"); // the owner's PTT requests, 1 on, 0 off
    QTest::addColumn<bool>("closed");

    const QByteArray longLine = "T 1" + QByteArray(64 * 1024, ' ') + '\n';
    QTest::newRow("short set_ptt, read back") << QByteArrayList{"T 1\nt\n"} << QByteArray("RPRT 0\n1\n") << "1" << false;
    QTest::newRow("long forms, CRLF") << QByteArrayList{"\\set_ptt 1\r\n\\set_ptt 0\r\n\\get_ptt\r\n"}
                                      << QByteArray("RPRT 0\nRPRT 0\n0\n") << "10" << false;
    QTest::newRow("PTT 2 and 3 key") << QByteArrayList{"T 2\nT 3\n"} << QByteArray("RPRT 0\nRPRT 0\n") << "11" << false;
    QTest::newRow("VFO words") << QByteArrayList{"T VFOA 1\nt currVFO\nF VFOB 7000000\nf VFOB\nf\n"}
                               << QByteArray("RPRT 0\n1\nRPRT 0\n7000000\n14074000\n") << "1" << false;
    QTest::newRow("split across reads") << QByteArrayList{"T", " 1\r", "\nF 7074", "000.000000\nf\n"}
                                        << QByteArray("RPRT 0\nRPRT 0\n7074000\n") << "1" << false;
    QTest::newRow("mode, VFO, split") << QByteArrayList{"M PKTUSB 3000\nm\nV VFOB\nv\nS 1 VFOB\ns\n"}
                                      << QByteArray("RPRT 0\nPKTUSB\n3000\nRPRT 0\nVFOB\nRPRT 0\n1\nVFOB\n") << "" << false;
    QTest::newRow("chk_vfo, powerstat") << QByteArrayList{"\\chk_vfo\n\\get_powerstat\n"} << QByteArray("0\n1\n") << "" << false;
    QTest::newRow("extended responses") << QByteArrayList{"+f\n;T 1\n|t VFOA\n"}
                                        << QByteArray("get_freq:\nFrequency: 14074000\nRPRT 0\nset_ptt: 1;RPRT 0\n"
                                                      "get_ptt: VFOA|PTT: 1|RPRT 0\n") << "1" << false;
    QTest::newRow("unknown commands") << QByteArrayList{"Z\n\\nothing\nset_ptt 1\n"}
                                      << QByteArray("RPRT -11\nRPRT -11\nRPRT -11\n") << "" << false;
    QTest::newRow("bad PTT arguments never key")
        << QByteArrayList{"T 5\nT x\nT\nT 1 1\nT -1\nT VFOX 1\nT 1x\n"} << QByteArray("RPRT -1\n").repeated(7) << "" << false;
    QTest::newRow("bad settings change nothing") << QByteArrayList{"F abc\nM FOO 1\nV VFOX\nf\nm\nv\n"}
                                                 << QByteArray("RPRT -1\nRPRT -1\nRPRT -1\n14074000\nUSB\n2400\nVFOA\n") << "" << false;
    QTest::newRow("binary garbage") << QByteArrayList{QByteArray("\x00\xff\x01 T 1\n", 9)} << QByteArray("RPRT -11\n") << "" << false;
    QTest::newRow("empty lines are silent") << QByteArrayList{"\n\r\n   \n"} << QByteArray() << "" << false;
    QTest::newRow("quit closes") << QByteArrayList{"q\nT 1\n"} << QByteArray("RPRT 0\n") << "" << true;
    QTest::newRow("64 KiB line closes, never keys") << QByteArrayList{longLine, "T 1\n"} << QByteArray("RPRT -8\n") << "" << true;
    QTest::newRow("64 KiB in small reads") << QByteArrayList(64, QByteArray(1024, 'x')) << QByteArray("RPRT -8\n") << "" << true;
}

void TestRigctlServer::protocol()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QByteArray, answers);
    QFETCH(QString, keying);
    QFETCH(bool, closed);

    RigctlVirtualRig rig;
    RigctlProtocol protocol(rig);
    QString requests;
    protocol.setPttHandler([&](bool on) {
        requests += on ? QLatin1Char('1') : QLatin1Char('0');
        protocol.setPttState(on); // as the owner does once the chain is keyed
    });
    QByteArray received;
    for (const QByteArray &read : std::as_const(reads))
        received += protocol.receive(read);
    QCOMPARE(received, answers);
    QCOMPARE(requests, keying);
    QCOMPARE(protocol.isClosed(), closed);
}

namespace {

// Runs Debian's rigctl against the server, turning the event loop so that the
// server answers while the client waits: its standard output.
QByteArray runRigctl(quint16 port, const QStringList &command)
{
    QProcess rigctl;
    rigctl.start(QStringLiteral("rigctl"), QStringList{QStringLiteral("-m"), QStringLiteral("2"), QStringLiteral("-r"),
                                                       QStringLiteral("127.0.0.1:%1").arg(port)} + command);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(rigctl.state() == QProcess::NotRunning, 30000); }();
    if (rigctl.exitStatus() != QProcess::NormalExit || rigctl.exitCode() != 0)
        return "failed: " + rigctl.readAllStandardError();
    return rigctl.readAllStandardOutput();
}

// The server with the radio's own rigctld behind it, keying as the owner does.
struct Relay
{
    QProcess rigctld;
    quint16 rigctldPort = 0;
    RigctlServer server;
    QString keying; // the owner's PTT requests, 1 on, 0 off

    // Behind it: the given port, or Hamlib's rigctld for its dummy radio, PTT
    // by CAT, started on a free port of 127.0.0.1.
    bool start(quint16 upstream = 0)
    {
        QObject::connect(&server, &RigctlServer::pttRequested, &server, [this](const QString &, bool on) {
            keying += on ? QLatin1Char('1') : QLatin1Char('0');
            server.setPttState(on);
        });
        if (!upstream) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            upstream = rigctldPort = probe.serverPort();
            probe.close();
            rigctld.start(QStringLiteral("rigctld"), {"-m", "1", "-P", "RIG", "-T", "127.0.0.1", "-t", QString::number(upstream)});
            QTcpSocket probing;
            if (!QTest::qWaitFor([&] { probing.connectToHost(QHostAddress::LocalHost, upstream); return probing.waitForConnected(200); }, 10000))
                return false;
        }
        return server.listen(QStringLiteral("127.0.0.1:0")) && server.setUpstream(QStringLiteral("127.0.0.1:%1").arg(upstream));
    }
    ~Relay() { rigctld.kill(), rigctld.waitForFinished(); }
};

} // namespace

void TestRigctlServer::realClient_data()
{
    QTest::addColumn<QList<QStringList>>("runs"); // one rigctl process each
    QTest::addColumn<QByteArray>("lastOutput");
    QTest::addColumn<QString>("keying");

    QTest::newRow("key, read PTT") << QList<QStringList>{{"T", "1"}, {"t"}} << QByteArray("1\n") << "1";
    QTest::newRow("key, release") << QList<QStringList>{{"T", "1"}, {"T", "0"}, {"t"}} << QByteArray("0\n") << "10";
    QTest::newRow("frequency set and read") << QList<QStringList>{{"F", "7074000"}, {"f"}} << QByteArray("7074000\n") << "";
    QTest::newRow("mode set and read") << QList<QStringList>{{"M", "PKTUSB", "3000"}, {"m"}} << QByteArray("PKTUSB\n3000\n") << "";
}

void TestRigctlServer::realClient()
{
    QFETCH(QList<QStringList>, runs);
    QFETCH(QByteArray, lastOutput);
    QFETCH(QString, keying);

    RigctlServer server;
    QVERIFY2(server.listen(QStringLiteral("127.0.0.1:0")), qPrintable(server.errorString()));
    QString requests;
    connect(&server, &RigctlServer::pttRequested, &server, [&](const QString &client, bool on) {
        QVERIFY(client.startsWith(QLatin1String("127.0.0.1:")));
        requests += on ? QLatin1Char('1') : QLatin1Char('0');
        server.setPttState(on);
    });
    QByteArray output;
    for (const QStringList &run : std::as_const(runs))
        output = runRigctl(server.port(), run);
    QCOMPARE(output, lastOutput);
    QCOMPARE(requests, keying);
}

void TestRigctlServer::killedClientIsGone()
{
    RigctlServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.1:0")));
    QSignalSpy keyed(&server, &RigctlServer::pttRequested);
    QSignalSpy gone(&server, &RigctlServer::clientGone);
    QProcess rigctl; // interactive: commands on its standard input
    rigctl.start(QStringLiteral("rigctl"), {"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(server.port())});
    rigctl.write("T 1\n");
    QTRY_COMPARE_WITH_TIMEOUT(keyed.size(), 1, 30000);
    QCOMPARE(keyed.at(0).at(1).toBool(), true);
    QCOMPARE(gone.size(), 0);
    rigctl.kill();
    QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, 30000);
    QCOMPARE(gone.at(0).at(0), keyed.at(0).at(0));
    QTRY_VERIFY(rigctl.state() == QProcess::NotRunning);
}

void TestRigctlServer::throughRigctld_data()
{
    QTest::addColumn<QList<QStringList>>("runs"); // through the server
    QTest::addColumn<QStringList>("direct"); // then straight to rigctld, and but for PTT through the server
    QTest::addColumn<QByteArray>("output"); // of each
    QTest::addColumn<QString>("keying");

    // The dummy radio starts on 145 MHz FM, no split: what rigctld says was set through the server.
    QTest::newRow("frequency") << QList<QStringList>{{"F", "7074000"}} << QStringList{"f"} << QByteArray("7074000\n") << "";
    QTest::newRow("mode") << QList<QStringList>{{"M", "PKTUSB", "3000"}} << QStringList{"m"} << QByteArray("PKTUSB\n3000\n") << "";
    QTest::newRow("split") << QList<QStringList>{{"S", "1", "VFOB"}} << QStringList{"s"} << QByteArray("1\nVFOB\n") << "";
    QTest::newRow("VFO") << QList<QStringList>{{"V", "VFOB"}} << QStringList{"v"} << QByteArray("Sub\n") << "";
    QTest::newRow("PTT keys the chain, not the radio") << QList<QStringList>{{"T", "1"}} << QStringList{"t"} << QByteArray("0\n") << "1";
    QTest::newRow("only the radio knows it") << QList<QStringList>{} << QStringList{"get_info"} << QByteArray("Nothing much (dummy)\n\n") << "";
}

void TestRigctlServer::throughRigctld()
{
    QFETCH(QList<QStringList>, runs);
    QFETCH(QStringList, direct);
    QFETCH(QByteArray, output);
    QFETCH(QString, keying);

    Relay relay;
    QVERIFY(relay.start());
    for (const QStringList &run : std::as_const(runs))
        QCOMPARE(runRigctl(relay.server.port(), run), QByteArray());
    QCOMPARE(runRigctl(relay.rigctldPort, direct), output);
    if (keying.isEmpty())
        QCOMPARE(runRigctl(relay.server.port(), direct), output);
    QCOMPARE(relay.keying, keying);
}

void TestRigctlServer::rawThroughRigctld_data()
{
    QTest::addColumn<QString>("upstream"); // rigctld, closed (a port nobody listens on), silent
    QTest::addColumn<QByteArray>("sent"); // at once
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<QString>("keying");

    QTest::newRow("in order, PTT here") << "rigctld" << QByteArray("F 7074000\nT 1\nf\nt\n")
                                        << QByteArray("RPRT 0\nRPRT 0\n7074000\n1\n") << "1";
    QTest::newRow("rigctld's own answers") << "rigctld" << QByteArray("\\nothing\n+f\nl RFPOWER\n")
                                           << QByteArray("get_freq:\nFrequency: 145000000\nRPRT 0\n0.000000\n") << "";
    QTest::newRow("closed") << "closed" << QByteArray("\\chk_vfo\nf\nT 1\nm\n") << QByteArray("0\nRPRT -6\nRPRT 0\nRPRT -6\n") << "1";
    QTest::newRow("silent") << "silent" << QByteArray("f\nT 0\nm\n") << QByteArray("RPRT -6\nRPRT 0\nRPRT -6\n") << "0";
}

void TestRigctlServer::rawThroughRigctld()
{
    QFETCH(QString, upstream);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answers);
    QFETCH(QString, keying);

    QTcpServer silent; // takes connections, never answers
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const quint16 port = upstream == QLatin1String("rigctld") ? 0 : silent.serverPort();
    if (upstream == QLatin1String("closed"))
        silent.close();
    Relay relay;
    QVERIFY(relay.start(port));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, relay.server.port());
    client.write(sent);
    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, &client, [&] { received += client.readAll(); });
    // Each command that waits for a silent rigctld is settled within its bound.
    QTRY_COMPARE_WITH_TIMEOUT(received, answers, 2 * RigctlUpstream::answerTimeoutMs + 1000);
    QCOMPARE(relay.keying, keying);
    int connections = 0; // a command after a silence asks on a new connection
    while (silent.nextPendingConnection())
        ++connections;
    QCOMPARE(connections, upstream == QLatin1String("silent") ? 2 : 0);
}

// Hamlib's own library as the client, as programs that link it open "Hamlib
// NET rigctl": its calls block, so they run on a thread of their own while
// this one serves.
void TestRigctlServer::hamlibLibrary()
{
    Relay relay;
    QVERIFY(relay.start());
    const QByteArray address = QStringLiteral("127.0.0.1:%1").arg(relay.server.port()).toLatin1();
    QList<int> results; // of rig_open, rig_set_ptt, rig_get_ptt, rig_get_freq
    ptt_t ptt = RIG_PTT_OFF;
    freq_t frequency = 0;
    std::atomic<bool> done = false;
    // Hamlib restores LC_NUMERIC from a name that its own setlocale() has
    // freed, unless the name is "C": as the program does, set it first.
    std::setlocale(LC_NUMERIC, "C");
    std::thread hamlib([&] {
        rig_set_debug(RIG_DEBUG_NONE);
        RIG *rig = rig_init(RIG_MODEL_NETRIGCTL);
        rig_set_conf(rig, rig_token_lookup(rig, "rig_pathname"), address.constData());
        rig_set_cache_timeout_ms(rig, HAMLIB_CACHE_ALL, 0); // every read asks
        results = {rig_open(rig), rig_set_ptt(rig, RIG_VFO_CURR, RIG_PTT_ON), rig_get_ptt(rig, RIG_VFO_CURR, &ptt),
                   rig_get_freq(rig, RIG_VFO_CURR, &frequency)};
        rig_close(rig);
        rig_cleanup(rig);
        done = true;
    });
    const auto joined = qScopeGuard([&] { hamlib.join(); });
    QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
    QCOMPARE(results, QList<int>(4, RIG_OK));
    QCOMPARE(relay.keying, QStringLiteral("1"));
    QCOMPARE(ptt, RIG_PTT_ON);
    QCOMPARE(frequency, 145000000.0); // the radio's, not the stored rig's
}

// "Rigctl-Server" as the user writes it: where it listens, whether it is
// refused, and whether the page warns that others can key the transmitter.
void TestRigctlServer::storedAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("listensOn"); // "" for none
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("warned");
    QTest::newRow("default") << "" << "" << false << false;
    QTest::newRow("off, any case") << " off " << "" << false << false;
    QTest::newRow("loopback") << "127.0.0.1:4534" << "127.0.0.1:4534" << false << false;
    QTest::newRow("IPv6 loopback") << "[::1]:4534" << "[::1]:4534" << false << false;
    QTest::newRow("localhost") << "localhost:4534" << "localhost:4534" << false << false;
    QTest::newRow("a LAN address") << "192.168.1.5:4534" << "192.168.1.5:4534" << false << true;
    QTest::newRow("every address") << "0.0.0.0:4534" << "0.0.0.0:4534" << false << true;
    QTest::newRow("a name is never looked up") << "shack.example:4534" << "" << true << false;
    QTest::newRow("no port") << "127.0.0.1" << "" << true << false;
    QTest::newRow("port out of range") << "127.0.0.1:70000" << "" << true << false;
}

void TestRigctlServer::storedAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, listensOn);
    QFETCH(bool, refused);
    QFETCH(bool, warned);
    const RigctlKeying::Address address = RigctlKeying::address(text);
    QCOMPARE(address.hostAndPort.value_or(QString()), listensOn);
    QCOMPARE(!address.problem.isEmpty(), refused);
    QCOMPARE(!RigctlKeying::exposureWarning(listensOn).isEmpty(), warned);
}

QTEST_GUILESS_MAIN(TestRigctlServer)
#include "tst_rigctlserver.moc"
