#include "core/keyingengine.h"

#include "core/portmessages.h"
#include "core/relaysettings.h"
#include "core/stationsettings.h"
#include "platform/process/fatalsignalrelease.h"

#include <QLoggingCategory>

// Off unless asked for (QT_LOGGING_RULES="zelvo.engine.debug=true"): every
// transition, for a test or a user who wants to see what the engine does.
Q_LOGGING_CATEGORY(lcEngine, "zelvo.engine", QtWarningMsg)

namespace {

// The device (as mapped) and why it could not be used, for the message.
QString failureDetail(const SerialLine &line)
{
    const QString location = line.location();
    const QString reason = line.lastOpenError();
    if (reason.isEmpty())
        return location;
    if (location.isEmpty() || reason.startsWith(location))
        return reason;
    return QStringLiteral("%1: %2").arg(location, reason);
}

} // namespace

KeyingEngine::KeyingEngine(SerialPortFactory &ports, QObject *parent)
    : QObject(parent)
    , m_input(ports)
    , m_output(ports)
{
    m_monotonic.start();
    m_recheck.setSingleShot(true);
    m_recheck.setTimerType(Qt::PreciseTimer);
    connect(&m_recheck, &QTimer::timeout, this, &KeyingEngine::readFootswitch);
    // The footswitch circuit is fed from both RTS and DTR, so that a switch
    // wired from either works.
    m_input.setLevelsAtOpen(true, true);
    m_input.setLineChangeHandler([this] { footswitchLineChanged(); });

    connect(&m_inputSupervisor, &PortSupervisor::stateChanged, this, &KeyingEngine::portsChanged);
    connect(&m_outputSupervisor, &PortSupervisor::stateChanged, this, &KeyingEngine::portsChanged);
    connect(&m_inputSupervisor, &PortSupervisor::reopened, this, &KeyingEngine::inputReady);
    connect(&m_outputSupervisor, &PortSupervisor::reopened, this, &KeyingEngine::outputReady);
    // Queued: a failure is found inside a poll or a click, and whoever shows
    // the message must not do so inside it.
    connect(&m_inputSupervisor, &PortSupervisor::newFailure, this, [this] { reportFailure(true); },
            Qt::QueuedConnection);
    connect(&m_outputSupervisor, &PortSupervisor::newFailure, this, [this] { reportFailure(false); },
            Qt::QueuedConnection);
}

KeyingEngine::~KeyingEngine()
{
    shutdown();
}

void KeyingEngine::configure(const SettingsStore &settings)
{
    // Called while the ports are closed (at start, and on the return from
    // the settings window), so nothing is keyed or timed now.
    m_options = FootswitchOptions::load(settings);
    const bool level = m_debouncer.level();
    m_debouncer = FootswitchDebouncer(m_options.debounceMs);
    m_debouncer.reset(level);
    if (m_options.txTimeoutSeconds != m_timeout.seconds()) {
        m_timeout = TransmitTimeout(m_options.txTimeoutSeconds);
        setNotice({});
    }
    // A relay on DTR opens with RTS and DTR low; on RTS, DTR is the
    // platform's.
    const bool dtrRelay = m_options.relayLine == StationSettings::RelayLine::Dtr;
    m_output.setLevelsAtOpen(false, dtrRelay ? std::optional<bool>(false) : std::nullopt);
    for (int port = StationSettings::firstPort; port <= StationSettings::lastPort; ++port)
        m_heartbeat[size_t(port)] = StationSettings::heartbeatEnabled(settings, port);
}

void KeyingEngine::openPorts(const QString &inputPort, const QString &outputPort)
{
    m_shutDown = false;
    m_inputPort = inputPort;
    m_outputPort = outputPort;
    // Whatever the footswitch was before, it counts from its next read.
    m_recheck.stop();
    if (m_debouncer.level()) {
        m_debouncer.reset(false);
        emit footswitchChanged(false);
    }
    if (m_output.isOpen())
        enter(State::Released, Cause::OutputReady);
    else
        enter(State::OutputUnavailable, Cause::PortsClosed);

    if (m_input.isOpen()) {
        inputReady();
        return;
    }
    m_inputSupervisor.stop();
    const std::optional<qint16> number = RelaySettings::portNumber(inputPort);
    if (!number) {
        emit portFailed(PortMessages::inputNotAvailable(inputPort));
        return;
    }
    m_input.select(*number);
    // An input carries no data to keep a server's connection alive: the
    // footswitch only listens.
    m_input.setHeartbeat(false);
    m_inputSupervisor.openLater();
}

void KeyingEngine::inputReady()
{
    // The footswitch's supply came up with the port (the levels at open).
    if (m_inputSupervisor.state() != PortSupervisor::State::Ready)
        m_inputSupervisor.opened();
    m_recheck.stop();
    m_debouncer.reset(m_debouncer.level());
    // The output is opened once the input works, and only if nothing else
    // is bringing it back already.
    if (m_outputSupervisor.state() == PortSupervisor::State::Closed && !m_output.isOpening()) {
        if (m_output.isOpen())
            outputReady();
        else
            openOutput();
    }
}

void KeyingEngine::openOutput()
{
    m_outputSupervisor.stop();
    const std::optional<qint16> number = RelaySettings::portNumber(m_outputPort);
    if (!number) {
        emit portFailed(PortMessages::outputNotAvailable(m_outputPort));
        return;
    }
    m_output.select(*number);
    // A remote relay whose server drops the lines of a silent connection
    // needs to hear from us while we are alive, after every reopen too.
    m_output.setHeartbeat(m_heartbeat[size_t(*number)]);
    m_outputSupervisor.openLater();
}

void KeyingEngine::outputReady()
{
    if (m_outputSupervisor.state() != PortSupervisor::State::Ready)
        m_outputSupervisor.opened();
    // Opened released; a footswitch still held keys only at its next press.
    if (m_state == State::OutputUnavailable)
        enter(State::Released, Cause::OutputReady);
    else
        driveRelay(isKeyed());
}

void KeyingEngine::closePorts()
{
    enter(State::OutputUnavailable, Cause::PortsClosed);
    m_recheck.stop();
    // Input first, as always: the footswitch loses its supply before the
    // relay its drive.
    m_inputSupervisor.stop();
    m_outputSupervisor.stop();
}

void KeyingEngine::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    enter(State::OutputUnavailable, Cause::Shutdown);
    m_recheck.stop();
    m_inputSupervisor.stop();
    m_outputSupervisor.stop();
}

void KeyingEngine::enter(State next, Cause cause, const QString &notice)
{
    const State before = m_state;
    m_state = next;
    // Whatever the notice said (a countdown, what a time-out did) belonged to
    // the state that ends here.
    setNotice(notice);
    if (!isKeyed(next))
        m_timeout.released();
    if (!driveRelay(isKeyed(next))) {
        outputLost();
        return;
    }
    if (before != next || isKeyed(next)) {
        qCDebug(lcEngine) << "state" << m_state << cause;
        emit stateChanged(m_state, cause);
    }
}

bool KeyingEngine::driveRelay(bool high)
{
    if (!m_output.isOpen()) {
        // Nothing to drive, and nothing the crash handler may touch.
        FatalSignalRelease::disarm();
        m_relayHigh = false;
        return !high;
    }
    const bool dtrRelay = m_options.relayLine == StationSettings::RelayLine::Dtr;
    try {
        // Armed before the line rises: once the command is with the kernel
        // the far end may already be keyed, and a fatal signal in the moment
        // before arming would leave it so. Dropping a line that is still low
        // does no harm.
        if (high)
            FatalSignalRelease::arm(m_output.crashRelease());
        // Written on a change only: the line is written once per edge, not
        // once per event that confirms it.
        if (high != m_relayHigh) {
            if (dtrRelay) {
                // The relay on DTR: RTS stays low with it.
                if (!high)
                    m_output.setRtsEnabled(false);
                m_output.setDtrEnabled(high);
            } else {
                m_output.setRtsEnabled(high);
            }
        }
        m_relayHigh = high;
        if (!high)
            FatalSignalRelease::disarm();
        return true;
    } catch (const SerialLineError &) {
        FatalSignalRelease::disarm();
        m_relayHigh = false;
        return false;
    }
}

void KeyingEngine::outputLost()
{
    // The relay no longer follows the switch: the descriptor the crash
    // handler would write to is about to close, and the window must not show
    // "Tx" for a transmitter that is not keyed. The port is opened again in
    // the background, released, and keys at the next press.
    FatalSignalRelease::disarm();
    m_relayHigh = false;
    m_timeout.released();
    setNotice({});
    m_outputSupervisor.lost();
    const State before = m_state;
    m_state = State::OutputUnavailable;
    if (before != m_state) {
        qCDebug(lcEngine) << "state" << m_state << Cause::OutputLost;
        emit stateChanged(m_state, Cause::OutputLost);
    }
}

void KeyingEngine::inputLost()
{
    // A footswitch that cannot be read must not leave the transmitter keyed:
    // it counts as released, and the port is tried again.
    m_recheck.stop();
    m_inputSupervisor.lost();
    const bool wasPressed = m_debouncer.level();
    m_debouncer.reset(false);
    if (wasPressed)
        setFootswitch(false);
    if (isKeyed() || m_state == State::TimedOut)
        enter(State::Released, Cause::InputLost);
}

void KeyingEngine::reportFailure(bool isInput)
{
    const SerialLine &line = isInput ? m_input : m_output;
    const QString detail = failureDetail(line);
    emit portFailed(isInput ? PortMessages::inputNotAvailable(m_inputPort, detail)
                            : PortMessages::outputNotAvailable(m_outputPort, detail));
}

void KeyingEngine::poll()
{
    readFootswitch();
    checkTimeout();
    checkOutput();
}

void KeyingEngine::footswitchLineChanged()
{
    poll();
    // A bouncing contact may settle after this read but before the waiting
    // thread is back in the driver's wait: nobody would report that last
    // change, and the switch would count only at the next tick. One more
    // read once the debounce time has passed finds it.
    if (!m_recheck.isActive())
        m_recheck.start(m_debouncer.debounceMs());
}

void KeyingEngine::readFootswitch()
{
    if (!m_input.isOpen())
        return; // closed on purpose, opening, or being retried
    bool raw = false;
    try {
        raw = m_input.lineHolding(m_options.line) != m_options.inverted;
    } catch (const SerialLineError &) {
        // Any failed read, not only a device that went away: the last level
        // read may be "pressed", and it must not stay in force.
        inputLost();
        return;
    }
    const qint64 sampled = now();
    const bool changed = m_debouncer.sample(raw, sampled);
    // A new level not held long enough yet: read again when it would be, so
    // that it counts then and not only at the next tick.
    if (const std::optional<qint64> due = m_debouncer.recheckAtMs())
        m_recheck.start(int(qMax<qint64>(0, *due - sampled)));
    else
        m_recheck.stop();
    if (!changed)
        return;
    setFootswitch(m_debouncer.level());
    if (m_debouncer.level())
        footswitchPressedEdge();
    else
        footswitchReleasedEdge();
}

void KeyingEngine::setFootswitch(bool pressed)
{
    emit footswitchChanged(pressed);
}

void KeyingEngine::footswitchPressedEdge()
{
    switch (m_state) {
    case State::Released:
    case State::KeyedByOperator:
        // A press while keyed by the operator makes it the footswitch's:
        // its release ends the transmission.
        m_timeout.keyed(now());
        enter(State::KeyedByFootswitch, Cause::Footswitch);
        break;
    case State::KeyedByFootswitch:
    case State::TimedOut:
    case State::OutputUnavailable:
        // Nothing keys while the output cannot follow, nor when it returns.
        break;
    }
}

void KeyingEngine::footswitchReleasedEdge()
{
    switch (m_state) {
    case State::KeyedByFootswitch:
    case State::KeyedByOperator:
    case State::TimedOut:
        enter(State::Released, Cause::Footswitch);
        break;
    case State::Released:
    case State::OutputUnavailable:
        break;
    }
}

void KeyingEngine::operatorKey()
{
    if (m_state == State::OutputUnavailable)
        return;
    m_timeout.keyed(now());
    enter(State::KeyedByOperator, Cause::Operator);
}

void KeyingEngine::operatorRelease()
{
    switch (m_state) {
    case State::KeyedByFootswitch:
    case State::KeyedByOperator:
        enter(State::Released, Cause::Operator);
        break;
    case State::Released:
    case State::TimedOut:
    case State::OutputUnavailable:
        break;
    }
}

void KeyingEngine::checkTimeout()
{
    const qint64 at = now();
    if (isKeyed() && m_timeout.poll(at)) {
        // Released by the program, not by the operator: say why, and say
        // what re-arms the footswitch.
        if (m_state == State::KeyedByFootswitch) {
            enter(State::TimedOut, Cause::Timeout,
                  QStringLiteral("Tx time-out released the transmitter – release the footswitch"));
        } else {
            enter(State::Released, Cause::Timeout, QStringLiteral("Tx time-out released the transmitter"));
        }
        return;
    }
    if (const std::optional<int> left = m_timeout.secondsLeft(at))
        setNotice(QStringLiteral("Tx time-out in %1 s").arg(*left));
}

void KeyingEngine::checkOutput()
{
    // Nothing else touches the output between edges: without a look at it
    // every tick, an unplugged relay adapter or a dropped link would only be
    // noticed at the next press.
    if (!m_output.isOpen())
        return;
    try {
        m_output.ctsHolding();
    } catch (const SerialLineError &) {
        outputLost();
    }
}

void KeyingEngine::setNotice(const QString &notice)
{
    if (notice == m_notice)
        return;
    m_notice = notice;
    emit noticeChanged(m_notice);
}
