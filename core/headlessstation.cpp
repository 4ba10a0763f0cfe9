#include "core/headlessstation.h"

#include "core/relaysettings.h"
#include "core/timeoutwarning.h"
#include "platform/storage/settingsstore.h"

#include <QDateTime>
#include <QMetaEnum>

namespace {

// "KeyedByFootswitch" -> "keyed-by-footswitch": one word per field.
QString hyphenated(const char *key)
{
    QString words;
    for (const QChar c : QLatin1String(key)) {
        if (c.isUpper() && !words.isEmpty())
            words += QLatin1Char('-');
        words += c.toLower();
    }
    return words;
}

} // namespace

HeadlessStation::HeadlessStation(KeyingEngine &engine, const SettingsStore &settings, QTextStream &out,
                                 QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_settings(settings)
    , m_out(out)
{
    m_poll.setTimerType(Qt::PreciseTimer);
    m_poll.setInterval(KeyingEngine::PollIntervalMs);
    connect(&m_poll, &QTimer::timeout, &m_engine, &KeyingEngine::poll);
    connect(&m_engine, &KeyingEngine::stateChanged, this,
            [this](KeyingEngine::State state, KeyingEngine::Cause cause) {
                write(stateName(state) + QLatin1Char(' ') + causeName(cause));
            });
    // Which source holds the transmitter: "keyed by rigctl client 127.0.0.1:53422".
    connect(&m_engine, &KeyingEngine::keyingSourceChanged, this, [this](const QString &source) {
        if (!source.isEmpty())
            write(QStringLiteral("keyed by ") + source);
    });
    connect(&m_engine, &KeyingEngine::footswitchChanged, this, [this](bool pressed) {
        write(pressed ? QStringLiteral("footswitch pressed") : QStringLiteral("footswitch released"));
    });
    connect(&m_engine, &KeyingEngine::noticeChanged, this, [this](const QString &notice) {
        if (!notice.isEmpty())
            write(QStringLiteral("notice ") + notice);
    });
    connect(&m_engine, &KeyingEngine::portFailed, this, [this](const QString &message) {
        write(QStringLiteral("port-failed ") + QString(message).replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified());
    });
    connect(&m_engine, &KeyingEngine::portsChanged, this, &HeadlessStation::reportPorts);
    // A chain's walk, step by step: "outputs-keyed 2/3".
    connect(&m_engine, &KeyingEngine::outputsKeyedChanged, this, [this](int keyed, int count) {
        if (count > 1)
            write(QStringLiteral("outputs-keyed %1/%2").arg(keyed).arg(count));
    });
    connect(&m_engine, &KeyingEngine::inhibitedChanged, this, [this](bool inhibited) {
        write(inhibited ? QStringLiteral("inhibited") : QStringLiteral("inhibit-ended"));
    });
}

bool HeadlessStation::start()
{
    const QString input = m_settings.get(RelaySettings::comPortIn);
    const QString output = m_settings.get(RelaySettings::comPortOut);
    if (input.isEmpty() || output.isEmpty()) {
        write(QStringLiteral("not-started no ports chosen: set \"ComPort\" and \"ComPort2\" in the settings "
                             "file, or choose them in the window"));
        return false;
    }
    m_engine.configure(m_settings);
    m_engine.openPorts(input, output);
    m_poll.start();
    return true;
}

void HeadlessStation::stop()
{
    m_poll.stop();
    m_engine.shutdown();
}

void HeadlessStation::showTimeoutWarning(const TimeoutWarning &warning)
{
    connect(&warning, &TimeoutWarning::warned, this,
            [this](int secondsLeft) { write(QStringLiteral("timeout-warning %1").arg(secondsLeft)); });
}

QString HeadlessStation::stateName(KeyingEngine::State state)
{
    return hyphenated(QMetaEnum::fromType<KeyingEngine::State>().valueToKey(int(state)));
}

QString HeadlessStation::portStateName(PortSupervisor::State state)
{
    return hyphenated(QMetaEnum::fromType<PortSupervisor::State>().valueToKey(int(state)));
}

QString HeadlessStation::causeName(KeyingEngine::Cause cause)
{
    return hyphenated(QMetaEnum::fromType<KeyingEngine::Cause>().valueToKey(int(cause)));
}

void HeadlessStation::write(const QString &what)
{
    m_out << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << QLatin1Char(' ') << what << Qt::endl;
}

void HeadlessStation::reportPorts()
{
    // One line per port whose state changed, not per retry tick.
    const auto describe = [](const QString &name, const SerialLine &line, const PortSupervisor &supervisor) {
        return QStringLiteral("%1 Com%2 %3 %4")
            .arg(name)
            .arg(line.portNumber())
            .arg(line.location(), portStateName(supervisor.state()));
    };
    const QString input = describe(QStringLiteral("input"), m_engine.input(), m_engine.inputSupervisor());
    const QString output = describe(QStringLiteral("output"), m_engine.output(), m_engine.outputSupervisor());
    // A port not yet opened has nothing to say (and no port number yet).
    const auto report = [this](const QString &line, const PortSupervisor &supervisor, QString &last) {
        if (line == last || (last.isEmpty() && supervisor.state() == PortSupervisor::State::Closed))
            return;
        write(last = line);
    };
    report(input, m_engine.inputSupervisor(), m_lastInput);
    report(output, m_engine.outputSupervisor(), m_lastOutput);
    m_lastMore.resize(m_engine.outputCount());
    for (int index = 1; index < m_engine.outputCount(); ++index) {
        const KeyedOutput &more = m_engine.outputAt(index);
        const QString number = more.portNumber();
        const QString line = QStringLiteral("output%1 %2%3 %4")
                                 .arg(index + 1)
                                 .arg(number.isEmpty() ? QString() : QStringLiteral("Com%1 ").arg(number),
                                      more.location(), portStateName(more.state()));
        if (line != m_lastMore[index] && (more.state() != PortSupervisor::State::Closed || !m_lastMore[index].isEmpty()))
            write(m_lastMore[index] = line);
    }
}
