#include "platform/net/networkserialport.h"
#include "modemlinesfiles.h"
#include "pseudoterminal.h"
#include "ser2netprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {
// Certificates made for the run by openssl: a CA and a second CA nobody
// trusts, a server certificate for 127.0.0.1 (valid and expired), and client
// certificates from either CA.
class TestCertificates
{
public:
    bool make()
    {
        if (!m_dir.isValid())
            return false;
        return openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", "/CN=Zelvo Test CA",
                        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                        "-keyout", "ca.key", "-out", "ca.pem"})
            && openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", "/CN=Other CA",
                        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                        "-keyout", "other-ca.key", "-out", "other-ca.pem"})
            && write("server.ext", "basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
            && write("client.ext", "basicConstraints=CA:FALSE\nextendedKeyUsage=clientAuth\n")
            && request("server", "/CN=127.0.0.1") && sign("server", "server", "ca", "30")
            && sign("server", "expired", "ca", "-1") // valid until before it was made
            && request("client", "/CN=radio-client") && sign("client", "client", "ca", "30")
            && sign("client", "stranger", "other-ca", "30")
            && QFile::setPermissions(path("client.key"), QFile::ReadOwner | QFile::WriteOwner)
            && QFile::setPermissions(path("server.key"), QFile::ReadOwner | QFile::WriteOwner)
            && QFile::copy(path("client.key"), path("shared.key"))
            && QFile::setPermissions(path("shared.key"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther)
            // Where ser2net looks for the issuer of the client named radio-client.
            && QDir().mkpath(path("auth/radio-client/allowed_certs"))
            && QFile::copy(path("ca.pem"), path("auth/radio-client/allowed_certs/ca.pem"))
            && openssl({"rehash", path("auth/radio-client/allowed_certs")});
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString errors() const { return m_errors; }

private:
    bool openssl(const QStringList &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        const bool finished = process.waitForFinished(30000);
        if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
            return true;
        m_errors += arguments.join(QLatin1Char(' ')) + QLatin1String(": ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }

    bool write(const QString &name, const QByteArray &contents)
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
    }

    bool request(const QString &name, const QString &subject)
    {
        return openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", subject, "-keyout", name + ".key", "-out",
                        name + ".csr"});
    }

    bool sign(const QString &request, const QString &name, const QString &ca, const QString &days)
    {
        const QString extensions = request == QLatin1String("server") ? "server.ext" : "client.ext";
        return openssl({"x509", "-req", "-in", request + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
                        "-CAcreateserial", "-days", days, "-extfile", extensions, "-out", name + ".pem"});
    }

    QTemporaryDir m_dir;
    QString m_errors;
};
}

// RFC 2217 inside TLS, against ser2net's TLS accepter that demands a client
// certificate; the modem-line library, preloaded into ser2net, shows what it
// does to RTS of the pseudo-terminal behind it.
class TestTlsSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (Ser2netProcess::program().isEmpty())
            QFAIL("ser2net is not installed (Debian package ser2net)");
        if (!QSslSocket::supportsSsl())
            QFAIL("Qt has no TLS backend here (OpenSSL)");
        QVERIFY(m_lines.isValid());
        QVERIFY2(m_certificates.make(), qPrintable(m_certificates.errors()));
    }

    void shouldOpenOnlyWithTrustOnBothSides_data()
    {
        QTest::addColumn<QString>("serverCertificate");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("caFile");
        QTest::addColumn<QString>("clientCertificate");
        QTest::addColumn<QString>("keyFile");
        QTest::addColumn<QString>("refusal"); // empty: it opens
        QTest::newRow("trusted both ways") << "server" << "127.0.0.1" << "ca" << "client" << "client" << "";
        QTest::newRow("server from an untrusted CA")
            << "server" << "127.0.0.1" << "other-ca" << "client" << "client" << "not signed by a CA of";
        QTest::newRow("server certificate for another name")
            << "server" << "localhost" << "ca" << "client" << "client" << "is for 127.0.0.1, not for localhost";
        QTest::newRow("expired server certificate") << "expired" << "127.0.0.1" << "ca" << "client" << "client"
                                                    << "has expired";
        QTest::newRow("no client certificate") << "server" << "127.0.0.1" << "ca" << "" << ""
                                               << "demands a client certificate";
        QTest::newRow("client certificate from an untrusted CA")
            << "server" << "127.0.0.1" << "ca" << "stranger" << "client" << "refuses our client certificate";
        QTest::newRow("key readable by others") << "server" << "127.0.0.1" << "ca" << "client" << "shared"
                                                << "Other users can read this key";
    }

    void shouldOpenOnlyWithTrustOnBothSides()
    {
        QFETCH(QString, serverCertificate);
        QFETCH(QString, host);
        QFETCH(QString, caFile);
        QFETCH(QString, clientCertificate);
        QFETCH(QString, keyFile);
        QFETCH(QString, refusal);

        PseudoTerminal terminal;
        QVERIFY(terminal.isValid());
        Ser2netProcess server;
        startServer(server, terminal, serverCertificate);
        if (QTest::currentTestFailed())
            return;

        NetworkSerialPort::TlsFiles files;
        files.caFile = m_certificates.path(caFile + ".pem");
        if (!clientCertificate.isEmpty()) {
            files.certFile = m_certificates.path(clientCertificate + ".pem");
            files.keyFile = m_certificates.path(keyFile + ".key");
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
        return {m_certificates.path(QStringLiteral("ca.pem")), m_certificates.path(QStringLiteral("client.pem")),
                m_certificates.path(QStringLiteral("client.key"))};
    }

    void startServer(Ser2netProcess &server, const PseudoTerminal &terminal, const QString &certificate)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZELVO_MODEMLINES_LIBRARY));
        environment.insert(QStringLiteral("ZELVO_MODEMLINES_DIR"), m_lines.path());
        server.setEnvironment(environment);
        server.setTls({m_certificates.path(certificate + ".pem"), m_certificates.path(QStringLiteral("server.key")),
                       m_certificates.path(QStringLiteral("ca.pem")), m_certificates.path(QStringLiteral("auth"))});
        QVERIFY2(server.start(terminal.slavePath(), QStringLiteral("9600n81,local")), qPrintable(server.output()));
    }

    TestCertificates m_certificates;
    QTemporaryDir m_lines;
};

QTEST_GUILESS_MAIN(TestTlsSerialPort)
#include "tst_tlsserialport.moc"
