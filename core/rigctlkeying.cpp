#include "core/rigctlkeying.h"

#include "core/keyingengine.h"
#include "core/sequencesettings.h"
#include "platform/storage/settingsstore.h"

#include <QHostAddress>

#include <utility>

RigctlKeying::Address RigctlKeying::address(const QString &text)
{
    const QString value = text.trimmed();
    if (value.isEmpty() || value.compare(off, Qt::CaseInsensitive) == 0)
        return {};
    QHostAddress host;
    quint16 port = 0;
    if (!RigctlServer::parseAddress(value, host, port)) {
        return {std::nullopt, QStringLiteral("The rigctl server's address \"%1\" is not HOST:PORT with an IP address, "
                                             "for example 127.0.0.1:4534, nor \"Off\".")
                                  .arg(value)};
    }
    return {value, {}};
}

QString RigctlKeying::exposureWarning(const QString &hostAndPort)
{
    QHostAddress host;
    quint16 port = 0;
    if (!RigctlServer::parseAddress(hostAndPort, host, port) || host.isLoopback())
        return {};
    // 0.0.0.0 and :: listen on every address this computer has.
    const QString where = host.isEqual(QHostAddress::AnyIPv4) || host.isEqual(QHostAddress::AnyIPv6)
                              ? QStringLiteral("this computer at port %1").arg(port)
                              : hostAndPort;
    return QStringLiteral("Anyone who can reach %1 can key the transmitter.").arg(where);
}

RigctlKeying::RigctlKeying(KeyingEngine &engine, const SettingsStore &settings, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_settings(settings)
{
    connect(&m_engine, &KeyingEngine::configured, this, &RigctlKeying::configure);
    connect(&m_server, &RigctlServer::pttRequested, this, [this](const QString &client, bool on) {
        if (on)
            m_engine.clientKey(sourceName(client));
        else
            m_engine.clientRelease(sourceName(client));
        // "t" right after "T 1" must read what came of it.
        showTransmitter();
    });
    connect(&m_server, &RigctlServer::clientGone, this,
            [this](const QString &client) { m_engine.clientRelease(sourceName(client)); });
    connect(&m_engine, &KeyingEngine::stateChanged, this, &RigctlKeying::showTransmitter);
    connect(&m_engine, &KeyingEngine::outputsKeyedChanged, this, &RigctlKeying::showTransmitter);
}

RigctlKeying::~RigctlKeying()
{
    // The clients' keys go with the server; the engine may outlive it.
    m_server.close();
}

void RigctlKeying::configure()
{
    // The radio at the end of the chain, when rigctld reaches it, answers
    // what is not PTT; otherwise the server's own stored rig does.
    QString upstream;
    const SequenceSettings::Sequence sequence = SequenceSettings::load(m_settings);
    if (!sequence.more.isEmpty() && sequence.more.last().kind == SequenceSettings::Output::Kind::Cat
        && sequence.more.last().rig.model == RigAddress::rigctldModel) {
        upstream = sequence.more.last().rig.hamlibPathname();
    }
    if (upstream != std::exchange(m_upstream, upstream) && !m_server.setUpstream(upstream)) {
        // A rig address with a host name: rigctld's own clients look it up,
        // this server never does.
        emit failed(QStringLiteral("Programs keying through the rigctl server reach the stored rig, not the radio at "
                                   "%1: %2")
                        .arg(upstream, m_server.errorString()));
        m_server.setUpstream({});
    }

    const Address wanted = address(m_settings.get(settingKey));
    const QString where = wanted.hostAndPort.value_or(QString());
    if (where == m_listeningOn && (where.isEmpty() || m_server.isListening()))
        return;
    m_server.close();
    m_listeningOn = where;
    if (!wanted.problem.isEmpty()) {
        emit failed(wanted.problem);
        return;
    }
    if (where.isEmpty())
        return;
    if (!m_server.listen(where)) {
        emit failed(QStringLiteral("The rigctl server cannot listen on %1: %2. Programs cannot key the "
                                   "transmitter through it.")
                        .arg(where, m_server.errorString()));
    }
}

QString RigctlKeying::sourceName(const QString &client)
{
    return QStringLiteral("rigctl client ") + client;
}

void RigctlKeying::showTransmitter()
{
    m_server.setPttState(m_engine.isKeyed() || m_engine.isTransmitting());
}
