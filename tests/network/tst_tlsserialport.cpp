#include "platform/net/networkserialport.h"
#include "modemlinesfiles.h"
#include "pseudoterminal.h"
#include "support/rigtool.h"
#include "ser2netprocess.h"

#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

// RFC 2217 inside TLS, against ser2net's TLS accepter that demands a client
// certificate; the modem-line library, preloaded into ser2net, shows what it
// does to RTS of the pseudo-terminal behind it.
class TestTlsSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QSslSocket::supportsSsl())
            QFAIL("Qt has no TLS backend here (OpenSSL)");
        QVERIFY(m_lines.isValid());
        // A CA and one nobody trusts, a server certificate for 127.0.0.1
        // (valid and expired), client certificates from either CA.
        QString errors;
        QVERIFY2(runRigTool({QStringLiteral("certificates"), m_certificates.path()}, &errors), qPrintable(errors));
    }

    void shouldOpenOnlyWithTrustOnBothSides_data()
    {
        QTest::addColumn<QString>("serverCertificate");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("caFile");
        QTest::addColumn<QString>("clientCertificate");
        QTest::addColumn<QString>("keyFile");
        QTest::addColumn<QString>("refusal"); // empty: it opens
        // The server's CA is in the store the system trusts by default.
        QTest::addColumn<bool>("trustedBySystem");
        QTest::newRow("trusted both ways") << "server" << "127.0.0.1" << "ca" << "client" << "client" << "" << false;
        QTest::newRow("server from an untrusted CA")
            << "server" << "127.0.0.1" << "other-ca" << "client" << "client" << "not signed by a CA of" << false;
        QTest::newRow("server certificate for another name")
            << "server" << "localhost" << "ca" << "client" << "client" << "is for 127.0.0.1, not for localhost" << false;
        QTest::newRow("expired server certificate") << "expired" << "127.0.0.1" << "ca" << "client" << "client"
                                                    << "has expired" << false;
        QTest::newRow("no client certificate") << "server" << "127.0.0.1" << "ca" << "" << ""
                                               << "demands a client certificate" << false;
        QTest::newRow("client certificate from an untrusted CA")
            << "server" << "127.0.0.1" << "ca" << "stranger" << "client" << "refuses our client certificate" << false;
        QTest::newRow("key readable by others") << "server" << "127.0.0.1" << "ca" << "client" << "shared"
                                                << "Other users can read this key" << false;
        QTest::newRow("Ca-File of another CA, server's CA trusted by the system")
            << "server" << "127.0.0.1" << "other-ca" << "client" << "client" << "not signed by a CA of" << true;
        QTest::newRow("no Ca-File, server's CA trusted by the system")
            << "server" << "127.0.0.1" << "" << "client" << "client" << "" << true;
    }

    void shouldOpenOnlyWithTrustOnBothSides()
    {
        QFETCH(QString, serverCertificate);
        QFETCH(QString, host);
        QFETCH(QString, caFile);
        QFETCH(QString, clientCertificate);
        QFETCH(QString, keyFile);
        QFETCH(QString, refusal);
        QFETCH(bool, trustedBySystem);
        const QSslConfiguration systemDefault = QSslConfiguration::defaultConfiguration();
        const auto restore = qScopeGuard([&systemDefault] { QSslConfiguration::setDefaultConfiguration(systemDefault); });
        if (trustedBySystem) {
            QSslConfiguration system = systemDefault;
            QVERIFY(system.addCaCertificates(m_certificates.filePath(QStringLiteral("ca.pem"))));
            QSslConfiguration::setDefaultConfiguration(system);
        }

        PseudoTerminal terminal;
        QVERIFY(terminal.isValid());
        Ser2netProcess server;
        startServer(server, terminal, serverCertificate);
        if (QTest::currentTestFailed())
            return;

        NetworkSerialPort::TlsFiles files;
        if (!caFile.isEmpty())
            files.caFile = m_certificates.filePath(caFile + ".pem");
        if (!clientCertificate.isEmpty()) {
            files.certFile = m_certificates.filePath(clientCertificate + ".pem");
            files.keyFile = m_certificates.filePath(keyFile + ".key");
        }
        NetworkSerialPort port(QStringLiteral("rfc2217+tls://%1:%2").arg(host).arg(server.port()), files);
        const bool opened = port.open(false);
        if (!refusal.isEmpty()) {
            QVERIFY(!opened);
            QCOMPARE(port.failure(), SerialPortDevice::Failure::OpenFailed);
            QVERIFY2(port.errorString().contains(refusal), qPrintable(port.errorString()));
            return;
        }
        QVERIFY2(opened, qPrintable(port.errorString() + QLatin1Char('\n') + server.output()));
        QVERIFY2(port.peerCertificateSummary().contains(QLatin1String("Zelvo Test CA")),
                 qPrintable(port.peerCertificateSummary()));
        QVERIFY(port.peerCertificateSummary().contains(QLatin1String("SHA-256")));

        const ModemLinesFiles lines(m_lines.path());
        QVERIFY(port.setRts(true));
        QTRY_VERIFY(lines.line(terminal.modemLinesName(), QStringLiteral("RTS")));
        QVERIFY(port.setRts(false));
        QTRY_VERIFY(!lines.line(terminal.modemLinesName(), QStringLiteral("RTS")));
    }

    void shouldOpenInTheBackgroundAndNoticeTheServerGoing()
    {
        PseudoTerminal terminal;
        QVERIFY(terminal.isValid());
        Ser2netProcess server;
        startServer(server, terminal, QStringLiteral("server"));
        if (QTest::currentTestFailed())
            return;
        NetworkSerialPort port(server.address(), clientFiles());
        int changes = 0;
        port.setLineChangeHandler([&changes] { ++changes; });
        std::optional<bool> opened;
        port.openInBackground(true, [&opened](bool result) { opened = result; });
        QTRY_VERIFY(opened);
        QVERIFY2(*opened, qPrintable(port.errorString() + QLatin1Char('\n') + server.output()));
        const ModemLinesFiles lines(m_lines.path());
        QTRY_VERIFY(lines.line(terminal.modemLinesName(), QStringLiteral("RTS")));
        // Bytes in the clear cannot go into a TLS stream.
        QCOMPARE(port.crashRelease().kind, SerialPortDevice::CrashRelease::Kind::SocketShutdown);

        server.kill();
        QTRY_VERIFY(changes > 0);
        bool holding = false;
        QVERIFY(!port.readCts(&holding));
        QCOMPARE(port.failure(), SerialPortDevice::Failure::DeviceLost);
    }

private:
    NetworkSerialPort::TlsFiles clientFiles() const
    {
        return {m_certificates.filePath(QStringLiteral("ca.pem")), m_certificates.filePath(QStringLiteral("client.pem")),
                m_certificates.filePath(QStringLiteral("client.key"))};
    }

    void startServer(Ser2netProcess &server, const PseudoTerminal &terminal, const QString &certificate)
    {
        server.setModemLines(QStringLiteral(ZELVO_MODEMLINES_LIBRARY), m_lines.path());
        server.setTls(m_certificates.path(), certificate);
        QVERIFY2(server.start(terminal.slavePath(), QStringLiteral("9600n81,local")), qPrintable(server.output()));
    }

    QTemporaryDir m_certificates;
    QTemporaryDir m_lines;
};

QTEST_GUILESS_MAIN(TestTlsSerialPort)
#include "tst_tlsserialport.moc"
