// Session fuzzer: the real NetworkSerialPort, driven as the keying engine
// drives a relay output, against a hostile RFC 2217 peer in this process,
// over plain TCP and TLS. Each session's bytes, from a seeded generator,
// decide what the peer sends (negotiations, notifications, garbage, cut-off
// subnegotiations, floods), when it stalls and when it closes, and which
// footswitch steps the port sees (opens, presses, releases, reads, closes).
// A session fails when
// - the peer is told RTS on more often than a press asked for it,
// - a connection the peer left open does not end with RTS off,
// - a call into the port takes longer than CallBoundMs, or
// - the session has not ended after SessionBoundMs (a hang).
//
// The suite runs a short pass; a long one, in the sanitizer build:
//   build-sanitize/tests/network/tst_network_sessionfuzz --sessions 100000
// Replay session K of seed S alone: --seed S --first K --sessions 1 --parallel 1

#include "platform/net/closingconnections.h"
#include "platform/net/networkserialport.h"
#include "platform/net/telnetcomportprotocol.h"
#include "support/rigtool.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace {
using P = TelnetComPortProtocol;
// Far above what a call needs, far below the waits a blocking call would
// make (OpenTimeoutMs): room for a loaded machine under the sanitizers.
constexpr int CallBoundMs = 1000;
constexpr int SessionBoundMs = 20000;
// Past the closing connections' own bound, by which every goodbye is sent.
constexpr int GoodbyeBoundMs = 3000;

// The fuzz input: read in order, zeros once spent.
class Input
{
public:
    explicit Input(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
    }
    quint8 byte() { return m_position < m_bytes.size() ? quint8(m_bytes[m_position++]) : 0; }
    int below(int n) { return byte() % n; }
    bool spent() const { return m_position >= m_bytes.size(); }

private:
    QByteArray m_bytes;
    qsizetype m_position = 0;
};

QByteArray bytes(std::initializer_list<quint8> list)
{
    QByteArray result;
    for (const quint8 byte : list)
        result.append(char(byte));
    return result;
}

// One connection as the peer sees it: the client's Telnet stream parsed far
// enough to know what it asked of RTS.
struct PeerConnection
{
    QPointer<QTcpSocket> socket;
    enum class Mode { Data, Iac, Verb, Sub, SubIac } mode = Mode::Data;
    QByteArray sub;
    std::optional<bool> rts;
    bool closedByPeer = false;
};

class Session : public QObject
{
public:
    Session(quint64 number, QByteArray input, const std::optional<QSslConfiguration> &tls, const QString &caFile)
        : m_number(number)
        , m_peerInput(input.first(input.size() / 2))
        , m_script(input.sliced(input.size() / 2))
        , m_answers(m_peerInput.below(16))
    {
        if (tls) {
            auto server = std::make_unique<QSslServer>();
            server->setSslConfiguration(*tls);
            m_server = std::move(server);
        } else {
            m_server = std::make_unique<QTcpServer>();
        }
        QObject::connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] { accept(); });
        if (!m_server->listen(QHostAddress::LocalHost)) {
            fail(QStringLiteral("cannot listen"));
            return;
        }
        const QString address = QStringLiteral("%1://127.0.0.1:%2").arg(tls ? "rfc2217+tls" : "rfc2217").arg(m_server->serverPort());
        m_port = std::make_unique<NetworkSerialPort>(address, NetworkSerialPort::TlsFiles{caFile, {}, {}}, &m_closing);
        // As the engine does: a change or a loss makes it read, and a read
        // that fails closes the output, to be opened again later.
        m_port->setLineChangeHandler([this] {
            bool asserted = false;
            if (!timed("readLine in the handler", [&] { return m_port->readLine(SerialPortDevice::InputLine::Cts, &asserted); }))
                closePort();
        });
        m_bound.start();
        m_peerTimer.setSingleShot(true);
        m_scriptTimer.setSingleShot(true);
        QObject::connect(&m_peerTimer, &QTimer::timeout, this, [this] { peerStep(); });
        QObject::connect(&m_scriptTimer, &QTimer::timeout, this, [this] { scriptStep(); });
        m_peerTimer.start(0);
        m_scriptTimer.start(0);
    }

    bool isDone() const { return m_done; }
    bool hasHung() const { return !m_done && m_bound.hasExpired(SessionBoundMs); }
    QString failure() const { return m_failure; }
    bool everOpened() const { return m_everOpened; }
    quint64 number() const { return m_number; }

private:
    // --- the device under test, driven like a relay output --------------
    template<typename Call>
    bool timed(const char *what, Call call)
    {
        QElapsedTimer timer;
        timer.start();
        const bool result = call();
        if (timer.elapsed() > CallBoundMs)
            fail(QStringLiteral("%1 took %2 ms").arg(QLatin1String(what)).arg(timer.elapsed()));
        return result;
    }

    void closePort()
    {
        timed("close", [this] { m_port->close(); return true; });
        m_open = m_opening = false;
    }

    void scriptStep()
    {
        if (m_script.spent() || m_steps++ > 40) {
            finish();
            return;
        }
        bool asserted = false;
        switch (m_script.below(8)) {
        case 0:
            if (!m_open && !m_opening) {
                m_opening = true;
                timed("openInBackground", [this] {
                    m_port->openInBackground(false, [this](bool opened) {
                        m_opening = false;
                        m_open = opened;
                        m_everOpened |= opened;
                    });
                    return true;
                });
            }
            break;
        case 1:
        case 2:
            ++m_presses;
            timed("setRts(true)", [this] { return m_port->setRts(true); });
            break;
        case 3:
            timed("setRts(false)", [this] { return m_port->setRts(false); });
            break;
        case 4:
            timed("readLine", [&] { return m_port->readLine(SerialPortDevice::InputLine(m_script.below(4)), &asserted); });
            break;
        case 5:
            m_port->setHeartbeat(m_script.byte() & 1);
            break;
        case 6:
            closePort();
            break;
        default:
            break;
        }
        m_scriptTimer.start(m_script.below(16) * (m_script.byte() < 16 ? 20 : 1));
    }

    // The port closes with the peer listening again, which must then read
    // RTS off on every connection it did not close itself.
    void finish()
    {
        m_finishing = true;
        m_goodbye.start();
        m_stalled = false;
        m_peerTimer.stop();
        for (PeerConnection &connection : m_connections)
            readFrom(connection);
        closePort();
        m_port.reset();
        QTimer::singleShot(0, this, [this] { awaitGoodbyes(); });
    }

    void awaitGoodbyes()
    {
        bool open = m_closing.count() > 0;
        for (PeerConnection &connection : m_connections) {
            readFrom(connection);
            open |= connection.socket && connection.socket->state() == QAbstractSocket::ConnectedState
                    && !connection.closedByPeer;
        }
        // Timed from the close, not from the session's start: a session that
        // ran long on a loaded machine still gets its goodbyes read.
        if (open && !m_goodbye.hasExpired(GoodbyeBoundMs)) {
            QTimer::singleShot(5, this, [this] { awaitGoodbyes(); });
            return;
        }
        for (const PeerConnection &connection : m_connections) {
            if (!connection.closedByPeer && connection.rts.value_or(false))
                fail(QStringLiteral("a connection ended with RTS on"));
        }
        m_done = true;
    }

    // --- the hostile peer -------------------------------------------------
    void accept()
    {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            m_connections.emplace_back().socket = socket;
            const size_t index = m_connections.size() - 1;
            QObject::connect(socket, &QIODevice::readyRead, this, [this, index] { readFrom(m_connections[index]); });
        }
    }

    void send(const QByteArray &bytes)
    {
        PeerConnection *connection = current();
        if (connection)
            connection->socket->write(bytes);
    }

    PeerConnection *current()
    {
        if (m_connections.empty())
            return nullptr;
        PeerConnection &last = m_connections.back();
        if (!last.socket || last.closedByPeer || last.socket->state() != QAbstractSocket::ConnectedState)
            return nullptr;
        return &last;
    }

    void readFrom(PeerConnection &connection)
    {
        if (m_stalled || !connection.socket || !connection.socket->isOpen())
            return;
        const QByteArray received = connection.socket->readAll();
        for (const char c : received)
            parse(connection, quint8(c));
    }

    void parse(PeerConnection &c, quint8 byte)
    {
        using Mode = PeerConnection::Mode;
        switch (c.mode) {
        case Mode::Data:
            if (byte == P::Iac)
                c.mode = Mode::Iac;
            break;
        case Mode::Iac:
            c.mode = byte == P::Sb ? Mode::Sub : byte >= P::Will && byte <= P::Dont ? Mode::Verb : Mode::Data;
            c.sub.clear();
            c.sub.append(char(byte));
            break;
        case Mode::Verb:
            c.mode = Mode::Data;
            if (quint8(c.sub[0]) == P::Will && byte == P::OptionComPort && !m_finishing)
                answer(c, bytes({P::Iac, m_answers == 0 ? P::Dont : P::Do, P::OptionComPort}));
            break;
        case Mode::Sub:
            if (byte == P::Iac)
                c.mode = Mode::SubIac;
            else
                c.sub.append(char(byte));
            break;
        case Mode::SubIac:
            if (byte == P::Iac) {
                c.sub.append(char(byte));
                c.mode = Mode::Sub;
            } else {
                c.mode = Mode::Data;
                commandFromClient(c, c.sub.sliced(1));
            }
            break;
        }
    }

    // The client's command, "44 command value...": what it does to RTS, and
    // the server's answer, which echoes the value unless told otherwise.
    void commandFromClient(PeerConnection &c, const QByteArray &command)
    {
        if (command.size() < 3 || quint8(command[0]) != P::OptionComPort)
            return;
        const quint8 code = quint8(command[1]);
        QByteArray value = command.sliced(2);
        if (code == P::SetControl && (quint8(value[0]) == P::ControlRtsOn || quint8(value[0]) == P::ControlRtsOff)) {
            c.rts = quint8(value[0]) == P::ControlRtsOn;
            if (*c.rts && ++m_rtsOnSeen > m_presses)
                fail(QStringLiteral("RTS on %1 times, %2 presses").arg(m_rtsOnSeen).arg(m_presses));
        }
        if (m_finishing || m_answers == 2)
            return;
        if (m_answers == 1)
            value[value.size() - 1] = char(quint8(value.back()) ^ 1);
        answer(c, P::comPortCommand(code + P::ServerOffset, value));
    }

    void answer(PeerConnection &c, const QByteArray &bytes)
    {
        if (c.socket && !c.closedByPeer)
            c.socket->write(bytes);
    }

    void peerStep()
    {
        if (m_finishing)
            return;
        Input &in = m_peerInput;
        int delay = in.below(12);
        switch (in.below(13)) {
        case 0:
        case 1:
            send(P::comPortCommand(P::NotifyModemState + P::ServerOffset, in.byte()));
            break;
        case 2: {
            QByteArray garbage;
            for (int n = 1 + in.below(16); n > 0; --n)
                garbage.append(char(in.byte()));
            send(garbage);
            break;
        }
        case 3: {
            static constexpr quint8 options[] = {P::OptionBinary, 1, P::OptionSuppressGoAhead, P::OptionComPort};
            const quint8 option = in.below(5) < 4 ? options[in.below(4)] : in.byte();
            send(bytes({P::Iac, quint8(P::Will + in.below(4)), option}));
            break;
        }
        case 4: // cut short; the rest may never come
            send(P::comPortCommand(P::ServerOffset + in.below(13), in.byte()).first(2 + in.below(4)));
            break;
        case 5: {
            QByteArray value;
            for (int n = in.below(5); n > 0; --n)
                value.append(char(in.byte()));
            send(P::comPortCommand(in.byte(), value));
            break;
        }
        case 6: // stop reading and answering for a while
            m_stalled = true;
            delay = in.byte() == 255 ? NetworkSerialPort::OpenTimeoutMs + 500 : 5 + in.below(60) * 5;
            QTimer::singleShot(delay, this, [this] {
                m_stalled = false;
                for (PeerConnection &connection : m_connections)
                    readFrom(connection);
            });
            break;
        case 7:
        case 8:
            if (PeerConnection *c = current(); c && in.below(4) == 0) {
                // Mid-message, at times, then gone: gracefully or with a reset.
                if (in.byte() & 1)
                    c->socket->write(P::comPortCommand(P::NotifyModemState + P::ServerOffset, 0x10).first(3));
                c->closedByPeer = true;
                if (in.byte() & 1)
                    c->socket->abort();
                else
                    c->socket->disconnectFromHost();
            }
            break;
        case 9:
            send(P::comPortCommand(P::ServerOffset + P::Signature, QByteArray(P::MaxSubnegotiationLength + in.byte(), 'x')));
            break;
        case 10:
            send(bytes({P::Iac, in.byte(), P::Iac, P::Se, P::Iac, P::Iac}));
            break;
        case 11:
            if (in.byte() < 16)
                send(QByteArray(16 * 1024 * (1 + in.below(4)), char(in.byte())));
            break;
        default:
            send(P::comPortCommand(P::ServerOffset + P::NotifyLineState + in.below(4), in.byte()));
            break;
        }
        m_peerTimer.start(delay);
    }

    void fail(const QString &what)
    {
        if (m_failure.isEmpty())
            m_failure = what;
    }

    quint64 m_number;
    Input m_peerInput;
    Input m_script;
    // 0: refuses com port control, 1: answers the line settings wrongly,
    // 2: never answers them; otherwise answers as a server should.
    int m_answers;
    std::unique_ptr<QTcpServer> m_server;
    std::vector<PeerConnection> m_connections;
    ClosingConnections m_closing;
    std::unique_ptr<NetworkSerialPort> m_port;
    QTimer m_peerTimer;
    QTimer m_scriptTimer;
    QElapsedTimer m_bound;
    QElapsedTimer m_goodbye;
    int m_steps = 0;
    int m_presses = 0;
    int m_rtsOnSeen = 0;
    bool m_open = false;
    bool m_opening = false;
    bool m_everOpened = false;
    bool m_stalled = false;
    bool m_finishing = false;
    bool m_done = false;
    QString m_failure;
};

std::optional<QSslConfiguration> serverTls(const QString &folder)
{
    QFile certificate(folder + QStringLiteral("/server.pem"));
    QFile key(folder + QStringLiteral("/server.key"));
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return std::nullopt;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(&certificate));
    configuration.setPrivateKey(QSslKey(&key, QSsl::Rsa));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    quint64 sessions = 300, first = 0, seed = 1;
    int parallel = 16;
    const QStringList arguments = application.arguments();
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        const QString &name = arguments[i];
        const quint64 value = arguments[i + 1].toULongLong();
        if (name == QLatin1String("--sessions"))
            sessions = value;
        else if (name == QLatin1String("--first"))
            first = value;
        else if (name == QLatin1String("--seed"))
            seed = value;
        else if (name == QLatin1String("--parallel"))
            parallel = qMax(1, int(value));
    }

    // One TLS session in four, with the rig's certificates, where it can make them.
    QTemporaryDir certificates;
    QString errors;
    std::optional<QSslConfiguration> tls;
    if (QSslSocket::supportsSsl() && runRigTool({QStringLiteral("certificates"), certificates.path()}, &errors))
        tls = serverTls(certificates.path());
    if (!tls)
        std::fprintf(stderr, "no TLS sessions: %s\n", qPrintable(errors));
    const QString caFile = certificates.filePath(QStringLiteral("ca.pem"));

    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<Session>> running;
    quint64 next = first, finished = 0, failed = 0, opened = 0;
    while (finished < sessions) {
        while (running.size() < size_t(parallel) && next < first + sessions) {
            std::mt19937_64 generator(seed * 0x9E3779B97F4A7C15ull + next);
            QByteArray input(64 + int(generator() % 448), Qt::Uninitialized);
            for (char &c : input)
                c = char(generator());
            const bool overTls = tls && (generator() & 3) == 0;
            running.push_back(std::make_unique<Session>(next++, input, overTls ? tls : std::nullopt, caFile));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (auto it = running.begin(); it != running.end();) {
            Session &session = **it;
            if (!session.isDone() && !session.hasHung()) {
                ++it;
                continue;
            }
            const QString failure = session.hasHung() ? QStringLiteral("hung") : session.failure();
            if (!failure.isEmpty()) {
                ++failed;
                std::fprintf(stderr, "session %llu of seed %llu: %s\n", (unsigned long long)session.number(),
                             (unsigned long long)seed, qPrintable(failure));
            }
            opened += session.everOpened();
            ++finished;
            it = running.erase(it);
        }
    }
    std::printf("%llu sessions (seed %llu from %llu), %llu opened, %llu failed, %.1f s\n", (unsigned long long)sessions,
                (unsigned long long)seed, (unsigned long long)first, (unsigned long long)opened,
                (unsigned long long)failed, clock.elapsed() / 1000.0);
    return failed == 0 ? 0 : 1;
}
