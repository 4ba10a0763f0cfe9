// Session fuzzer: the real NetworkSerialPort, driven as the keying engine
// drives a relay output, against a hostile RFC 2217 peer in this process,
// over plain TCP and TLS. Each session's bytes, from a seeded generator,
// decide what the peer sends, when it stalls and hangs up, and which
// footswitch steps the port sees. A session fails when the peer is told RTS
// on more often than a press asked for it, when a connection the peer left
// open does not end with RTS off, when a call into the port takes longer
// than CallBoundMs, or when it has not ended after SessionBoundMs (a hang).
// The suite runs a short pass; a long one, in the sanitizer build:
//   build-sanitize/tests/network/tst_network_sessionfuzz --seed S --sessions 100000 --parallel 48
// Replay session K of seed S alone: --seed S --first K --sessions 1 --parallel 1

#include "platform/net/closingconnections.h"
#include "platform/net/networkserialport.h"
#include "platform/net/telnetcomportprotocol.h"
#include "support/rigtool.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPointer>
#include <QScopeGuard>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace {
using P = TelnetComPortProtocol;
// Far above what a call needs, far below the waits a blocking call would
// make (OpenTimeoutMs): room for a loaded machine under the sanitizers.
constexpr int CallBoundMs = 1000, SessionBoundMs = 20000;
// Past the closing connections' own bound, by which every goodbye is sent.
constexpr int GoodbyeBoundMs = 3000;

// The fuzz input: read in order, zeros once spent.
struct Input
{
    QByteArray bytes;
    qsizetype position = 0;
    quint8 byte() { return position < bytes.size() ? quint8(bytes[position++]) : 0; }
    int below(int n) { return byte() % n; }
    bool spent() const { return position >= bytes.size(); }
    QByteArray take(int n)
    {
        QByteArray taken(n, Qt::Uninitialized);
        std::ranges::generate(taken, [this] { return char(byte()); });
        return taken;
    }
};

QByteArray bytes(std::initializer_list<quint8> list) { return QByteArrayView(list.begin(), qsizetype(list.size())).toByteArray(); }

// What the peer may send in one step, made of the input's next bytes; values
// are read into locals where the order would otherwise be the compiler's.
constexpr QByteArray (*PeerMessages[])(Input &) = {
    [](Input &in) { return P::comPortCommand(P::ServerOffset + P::NotifyModemState, in.byte()); },
    [](Input &in) { return P::comPortCommand(P::ServerOffset + P::NotifyModemState, in.byte()); },
    [](Input &in) { const int kind = in.below(4); return P::comPortCommand(P::ServerOffset + P::NotifyLineState + kind, in.byte()); },
    [](Input &in) { return in.take(1 + in.below(16)); }, // garbage
    [](Input &in) { // a negotiation, mostly of an option the client knows
        static constexpr quint8 known[] = {P::OptionBinary, 1, P::OptionSuppressGoAhead, P::OptionComPort};
        const quint8 option = in.below(5) < 4 ? known[in.below(4)] : in.byte();
        return bytes({P::Iac, quint8(P::Will + in.below(4)), option});
    },
    [](Input &in) { // cut short; the rest may never come
        const quint8 code = P::ServerOffset + in.below(13), value = in.byte();
        return P::comPortCommand(code, value).first(2 + in.below(4));
    },
    [](Input &in) { const QByteArray value = in.take(in.below(5)); return P::comPortCommand(in.byte(), value); },
    [](Input &in) { // longer than the client keeps
        return P::comPortCommand(P::ServerOffset + P::Signature, QByteArray(P::MaxSubnegotiationLength + in.byte(), 'x'));
    },
    [](Input &in) { return bytes({P::Iac, in.byte(), P::Iac, P::Se, P::Iac, P::Iac}); },
    [](Input &in) { // a flood, at times
        const int size = in.byte() < 16 ? 16 * 1024 * (1 + in.below(4)) : 0;
        return QByteArray(size, char(size ? in.byte() : 0));
    },
};
// The peer's other steps: a stall, and (twice as likely) a hang-up.
constexpr int Stall = std::size(PeerMessages), PeerSteps = Stall + 3;
// What a step of the footswitch script calls, to name it when it runs long.
constexpr const char *ScriptCalls[] = {"openInBackground", "setRts(true)", "setRts(true)", "setRts(false)",
                                       "readLine", "setHeartbeat", "close", "nothing"};

// One connection as the peer sees it: the client's Telnet stream parsed far
// enough to answer it and to know what it asked of RTS.
struct PeerConnection
{
    QPointer<QTcpSocket> socket;
    quint8 verb = 0; // of "IAC verb option", awaiting the option
    bool afterIac = false, inSub = false;
    QByteArray sub;
    bool rts = false, closedByPeer = false;
    // Set as the client closes it, after what the peer wrote has gone: the
    // peer sends nothing more, since a write that meets the client's reset
    // makes Qt close the socket and drop what the kernel still held for it,
    // the client's last words among them.
    bool closedByClient = false;
    bool isOpen() const { return socket && !closedByPeer && socket->state() == QAbstractSocket::ConnectedState; }
    bool isWritable() const { return isOpen() && !closedByClient; }
    void write(const QByteArray &bytes) { if (isWritable()) socket->write(bytes); }
};

class Session : public QObject
{
public:
    Session(quint64 number, QByteArray input, const std::optional<QSslConfiguration> &tls, const QString &caFile)
        : m_number(number), m_peerInput{input.first(input.size() / 2)}, m_script{input.sliced(input.size() / 2)}
        , m_answers(m_peerInput.below(16)), m_server(tls ? std::make_unique<QSslServer>() : std::make_unique<QTcpServer>())
    {
        m_bound.start();
        if (tls)
            static_cast<QSslServer *>(m_server.get())->setSslConfiguration(*tls);
        if (!m_server->listen(QHostAddress::LocalHost))
            fail(QStringLiteral("cannot listen"));
        QObject::connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &Session::accept);
        const QString address = QStringLiteral("%1://127.0.0.1:%2").arg(tls ? "rfc2217+tls" : "rfc2217").arg(m_server->serverPort());
        m_port = std::make_unique<NetworkSerialPort>(address, NetworkSerialPort::TlsFiles{caFile, {}, {}}, &m_closing);
        m_port->setLineChangeHandler([this] { lineChanged(); });
        QTimer::singleShot(0, this, &Session::peerStep);
        QTimer::singleShot(0, this, &Session::scriptStep);
    }

    bool hasEnded() const { return m_done || m_bound.hasExpired(SessionBoundMs); }
    QString failure() const { return m_done ? m_failure : QStringLiteral("hung"); }
    bool everOpened() const { return m_everOpened; }
    quint64 number() const { return m_number; }

private:
    void fail(const QString &what) { m_failure = m_failure.isEmpty() ? what : m_failure; }

    // Fails the session if the scope it guards, a call into the port, takes longer than CallBoundMs.
    [[nodiscard]] auto timed(const char *what)
    {
        return qScopeGuard([this, what, start = QDeadlineTimer::current()] {
            if (const qint64 ms = QDeadlineTimer::current().deadline() - start.deadline(); ms > CallBoundMs)
                fail(QStringLiteral("%1 took %2 ms").arg(QLatin1String(what)).arg(ms));
        });
    }

    // As the engine does: a change or a loss makes it read, and a read that
    // fails closes the output, to be opened again later.
    void lineChanged()
    {
        const auto bound = timed("readLine in the handler");
        if (bool asserted = false; !m_port->readLine(SerialPortDevice::InputLine::Cts, &asserted))
            closePort();
    }

    void closePort()
    {
        if (!m_connections.empty() && m_connections.back().isWritable()) {
            m_connections.back().socket->flush();
            m_connections.back().closedByClient = true;
        }
        const auto bound = timed("close");
        m_port->close();
        m_openAsked = false;
    }

    void scriptStep()
    {
        Input &in = m_script;
        if (in.spent() || m_steps++ > 40)
            return finish();
        const int step = in.below(std::size(ScriptCalls));
        const auto bound = timed(ScriptCalls[step]);
        bool asserted = false;
        switch (step) {
        case 0:
            if (!std::exchange(m_openAsked, true))
                m_port->openInBackground(false, [this](bool opened) { m_openAsked = opened; m_everOpened |= opened; });
            break;
        case 1:
        case 2: ++m_presses; m_port->setRts(true); break;
        case 3: m_port->setRts(false); break;
        case 4: m_port->readLine(SerialPortDevice::InputLine(in.below(4)), &asserted); break;
        case 5: m_port->setHeartbeat(in.byte() & 1); break;
        case 6: closePort(); break;
        }
        QTimer::singleShot(in.below(16) * (in.byte() < 16 ? 20 : 1), this, &Session::scriptStep);
    }

    // The port closes with the peer listening again, which must then read
    // RTS off on every connection it did not close itself. The wait is timed
    // from the close, so that a session that ran long on a loaded machine
    // still gets its goodbyes read.
    void finish()
    {
        if (!std::exchange(m_finishing, true)) {
            m_stalled = false;
            m_goodbye.start();
            readPeer();
            closePort();
            m_port.reset();
        }
        readPeer();
        const bool open = m_closing.count() > 0 || std::ranges::any_of(m_connections, &PeerConnection::isOpen);
        if (open && !m_goodbye.hasExpired(GoodbyeBoundMs))
            return QTimer::singleShot(5, this, &Session::finish);
        if (std::ranges::any_of(m_connections, [](const PeerConnection &c) { return !c.closedByPeer && c.rts; }))
            fail(QStringLiteral("a connection ended with RTS on"));
        m_done = true;
    }

    void accept()
    {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            m_connections.emplace_back().socket = socket;
            QObject::connect(socket, &QIODevice::readyRead, this, &Session::readPeer);
        }
    }

    void readPeer()
    {
        for (PeerConnection &c : m_connections) {
            if (m_stalled || !c.socket || !c.socket->isOpen())
                continue;
            for (const char byte : c.socket->readAll())
                parse(c, quint8(byte));
        }
    }

    // The client's Telnet stream, a byte at a time: "IAC verb option" and
    // "IAC SB command IAC SE" with IAC doubled within; data is skipped.
    void parse(PeerConnection &c, quint8 byte)
    {
        if (const quint8 verb = std::exchange(c.verb, 0)) {
            if (verb == P::Will && byte == P::OptionComPort && !m_finishing)
                c.write(bytes({P::Iac, m_answers == 0 ? P::Dont : P::Do, P::OptionComPort}));
        } else if (!std::exchange(c.afterIac, false)) {
            c.afterIac = byte == P::Iac;
            if (!c.afterIac && c.inSub)
                c.sub.append(char(byte));
        } else if (c.inSub && byte == P::Iac) {
            c.sub.append(char(byte));
        } else if (c.inSub) { // IAC SE, or IAC and anything else, ends it
            c.inSub = false;
            if (c.sub.size() >= 3 && quint8(c.sub[0]) == P::OptionComPort)
                command(c, quint8(c.sub[1]), c.sub.sliced(2));
        } else {
            c.inSub = byte == P::Sb;
            c.verb = byte >= P::Will && byte <= P::Dont ? byte : 0;
            c.sub.clear();
        }
    }

    // The client's command: what it does to RTS, and the server's answer,
    // which echoes the value unless told otherwise.
    void command(PeerConnection &c, quint8 code, QByteArray value)
    {
        if (code == P::SetControl && (quint8(value[0]) == P::ControlRtsOn || quint8(value[0]) == P::ControlRtsOff)) {
            c.rts = quint8(value[0]) == P::ControlRtsOn;
            if (c.rts && ++m_rtsOnSeen > m_presses)
                fail(QStringLiteral("RTS on %1 times, %2 presses").arg(m_rtsOnSeen).arg(m_presses));
        }
        if (m_answers == 1)
            value.back() = char(quint8(value.back()) ^ 1);
        if (!m_finishing && m_answers != 2)
            c.write(P::comPortCommand(code + P::ServerOffset, value));
    }

    void peerStep()
    {
        if (m_finishing)
            return;
        if (std::exchange(m_stalled, false))
            readPeer();
        Input &in = m_peerInput;
        int delay = in.below(12);
        PeerConnection *c = m_connections.empty() || !m_connections.back().isWritable() ? nullptr : &m_connections.back();
        if (const int step = in.below(PeerSteps); step < Stall) {
            const QByteArray message = PeerMessages[step](in);
            if (c)
                c->write(message);
        } else if (step == Stall) { // stop reading and answering for a while
            m_stalled = true;
            delay = in.byte() == 255 ? NetworkSerialPort::OpenTimeoutMs + 500 : 5 + in.below(60) * 5;
        } else if (c && in.below(4) == 0) { // mid-message at times, then gone: gracefully or with a reset
            if (in.byte() & 1)
                c->write(P::comPortCommand(P::ServerOffset + P::NotifyModemState, P::ModemStateCts).first(3));
            c->closedByPeer = true;
            in.byte() & 1 ? c->socket->abort() : c->socket->disconnectFromHost();
        }
        QTimer::singleShot(delay, this, &Session::peerStep);
    }

    quint64 m_number;
    Input m_peerInput, m_script;
    // 0: refuses com port control, 1: answers the line settings wrongly,
    // 2: never answers them; otherwise answers as a server should.
    int m_answers;
    std::unique_ptr<QTcpServer> m_server;
    std::vector<PeerConnection> m_connections;
    ClosingConnections m_closing;
    std::unique_ptr<NetworkSerialPort> m_port;
    QElapsedTimer m_bound, m_goodbye;
    int m_steps = 0, m_presses = 0, m_rtsOnSeen = 0;
    bool m_openAsked = false; // opening or open
    bool m_everOpened = false, m_stalled = false, m_finishing = false, m_done = false;
    QString m_failure;
};
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    quint64 sessions = 300, first = 0, seed = 1, parallel = 16;
    const std::pair<QLatin1String, quint64 *> options[] = {
        {QLatin1String("--sessions"), &sessions}, {QLatin1String("--first"), &first},
        {QLatin1String("--seed"), &seed}, {QLatin1String("--parallel"), &parallel}};
    const QStringList arguments = application.arguments();
    for (qsizetype i = 1; i < arguments.size(); i += 2) {
        const auto *option = std::ranges::find(options, arguments[i], &std::pair<QLatin1String, quint64 *>::first);
        if (option == std::end(options) || i + 1 == arguments.size()) {
            std::fprintf(stderr, "usage: %s [--seed S] [--sessions N] [--first K] [--parallel P]\n", argv[0]);
            return 2;
        }
        *option->second = arguments[i + 1].toULongLong();
    }

    // One TLS session in four, with the rig's certificates, where it can make them.
    QTemporaryDir folder;
    QFile certificate(folder.filePath(QStringLiteral("server.pem"))), key(folder.filePath(QStringLiteral("server.key")));
    QString errors;
    std::optional<QSslConfiguration> tls;
    if (QSslSocket::supportsSsl() && runRigTool({QStringLiteral("certificates"), folder.path()}, &errors)
        && certificate.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
        tls = QSslConfiguration::defaultConfiguration();
        tls->setLocalCertificate(QSslCertificate(&certificate));
        tls->setPrivateKey(QSslKey(&key, QSsl::Rsa));
        tls->setPeerVerifyMode(QSslSocket::VerifyNone);
    } else {
        std::fprintf(stderr, "no TLS sessions: %s\n", qPrintable(errors));
    }

    const QString caFile = folder.filePath(QStringLiteral("ca.pem"));
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<Session>> running;
    quint64 next = first, finished = 0, failed = 0, opened = 0;
    while (finished < sessions) {
        for (; running.size() < std::max(parallel, quint64(1)) && next < first + sessions; ++next) {
            std::mt19937_64 generator(seed * 0x9E3779B97F4A7C15ull + next);
            QByteArray input(64 + int(generator() % 448), Qt::Uninitialized);
            std::ranges::generate(input, [&] { return char(generator()); });
            const bool overTls = tls && (generator() & 3) == 0;
            running.push_back(std::make_unique<Session>(next, input, overTls ? tls : std::nullopt, caFile));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::erase_if(running, [&](const std::unique_ptr<Session> &session) {
            if (!session->hasEnded())
                return false;
            if (const QString failure = session->failure(); !failure.isEmpty()) {
                ++failed;
                std::fprintf(stderr, "session %llu of seed %llu: %s\n", session->number(), seed, qPrintable(failure));
            }
            opened += session->everOpened();
            ++finished;
            return true;
        });
    }
    std::printf("%llu sessions (seed %llu from %llu), %llu opened, %llu failed, %.1f s\n", sessions, seed, first, opened, failed,
                clock.elapsed() / 1000.0);
    return failed == 0 ? 0 : 1;
}
