#include "core/keyingengine.h"

#include "core/catradiooutput.h"
#include "core/portmessages.h"
#include "core/relaysettings.h"
#include "core/stationsettings.h"
#include "platform/process/fatalsignalrelease.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QScopedValueRollback>

// Off unless asked for (QT_LOGGING_RULES="zelvo.engine.debug=true"): every
// transition and every step of a walk, for a test or a user who wants to see
// what the engine does.
Q_LOGGING_CATEGORY(lcEngine, "zelvo.engine", QtWarningMsg)

namespace {

const QString inhibitedNotice = QStringLiteral("Inhibited");

} // namespace

KeyingEngine::KeyingEngine(SerialPortFactory &ports, QObject *parent)
    : QObject(parent)
    , m_ports(ports)
    , m_input(ports)
    , m_first(ports)
    , m_inhibit(ports)
{
    m_monotonic.start();
    m_recheck.setSingleShot(true);
    m_recheck.setTimerType(Qt::PreciseTimer);
    connect(&m_recheck, &QTimer::timeout, this, &KeyingEngine::readFootswitch);
    m_walkTimer.setSingleShot(true);
    m_walkTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_walkTimer, &QTimer::timeout, this, &KeyingEngine::walk);
    m_confirmBound.setSingleShot(true);
    connect(&m_confirmBound, &QTimer::timeout, this, &KeyingEngine::confirmationOverdue);
    m_relayTest.setSingleShot(true);
    m_relayTest.setInterval(RelayTestMs);
    connect(&m_relayTest, &QTimer::timeout, this, &KeyingEngine::operatorRelease);
    // Whatever ends the test's keying (the time-out, a lost port, the ports
    // closed, the end) ends the test: its timer must not release a later one.
    connect(this, &KeyingEngine::stateChanged, &m_relayTest, [this](State state) {
        if (state != State::KeyedByOperator)
            m_relayTest.stop();
    });
    // The footswitch circuit is fed from both RTS and DTR, so that a switch
    // wired from either works.
    m_input.setLevelsAtOpen(true, true);
    m_input.setLineChangeHandler([this] { footswitchLineChanged(); });

    connect(&m_inputSupervisor, &PortSupervisor::stateChanged, this, &KeyingEngine::portsChanged);
    connect(&m_inputSupervisor, &PortSupervisor::reopened, this, &KeyingEngine::inputReady);
    // Queued: a failure is found inside a poll or a click, and whoever shows
    // the message must not do so inside it.
    connect(&m_inputSupervisor, &PortSupervisor::newFailure, this, &KeyingEngine::reportFailure,
            Qt::QueuedConnection);
    connect(&m_inhibit, &InhibitInput::changed, this, &KeyingEngine::poll);
    connect(&m_inhibit, &InhibitInput::failed, this, &KeyingEngine::portFailed);
    m_first.setFailureMessage(
        [this](const QString &detail) { return PortMessages::outputNotAvailable(m_outputPort, detail); });
    connect(&m_first, &KeyedOutput::stateChanged, this, &KeyingEngine::portsChanged);
    connect(&m_first, &KeyedOutput::ready, this, &KeyingEngine::outputReady);
    connect(&m_first, &KeyedOutput::lost, this, [this] { outputLost(0); });
    connect(&m_first, &KeyedOutput::confirmed, this, [this](bool keyed) { outputConfirmed(0, keyed); });
    connect(&m_first, &KeyedOutput::failed, this, &KeyingEngine::portFailed);
}

KeyingEngine::~KeyingEngine()
{
    shutdown();
    // No event loop is left to walk on: whatever is still keyed is released
    // now, last output first.
    releaseAllNow();
    finishClosing();
}

void KeyingEngine::configure(const SettingsStore &settings)
{
    Configuration next;
    next.options = FootswitchOptions::load(settings);
    for (int port = StationSettings::firstPort; port <= StationSettings::lastPort; ++port)
        next.heartbeat[size_t(port)] = StationSettings::heartbeatEnabled(settings, port);
    next.sequence = SequenceSettings::load(settings);
    // Called while the ports are closed (at start, and on the return from
    // another window), but a quick return finds the release walk still
    // under way: the chain that is keyed finishes it, with its tails, and
    // is rebuilt only then.
    if (walkUnderWay()) {
        m_pendingConfiguration = std::move(next);
        // Still keyed (nothing closed the ports first): that walk starts now.
        if (m_state != State::OutputUnavailable)
            enter(State::OutputUnavailable, Cause::PortsClosed);
        emit configured();
        return;
    }
    apply(next);
    emit configured();
}

void KeyingEngine::apply(const Configuration &configuration)
{
    m_options = configuration.options;
    const bool level = m_debouncer.level();
    m_debouncer = FootswitchDebouncer(m_options.debounceMs);
    m_debouncer.reset(level);
    if (m_options.txTimeoutSeconds != m_timeout.seconds()) {
        m_timeout = TransmitTimeout(m_options.txTimeoutSeconds);
        setNotice({});
    }
    m_heartbeat = configuration.heartbeat;
    buildChain(configuration.sequence);
}

void KeyingEngine::buildChain(const SequenceSettings::Sequence &sequence)
{
    QList<OutputSequence::Timing> timings{{sequence.firstLeadMs, sequence.firstTailMs}};
    for (const SequenceSettings::Output &wanted : sequence.more)
        timings.append({wanted.leadMs, wanted.tailMs});
    m_sequence = OutputSequence(timings, 1000);

    for (const std::unique_ptr<KeyedOutput> &output : m_more)
        output->close();
    m_more.clear();
    m_chain.assign(1, &m_first);
    for (const SequenceSettings::Output &wanted : sequence.more) {
        std::unique_ptr<KeyedOutput> output;
        if (wanted.kind == SequenceSettings::Output::Kind::Cat) {
            if (m_radioMaker) {
                output = m_radioMaker(wanted.rig);
            } else {
                if (!m_hamlib)
                    m_hamlib = std::make_unique<HamlibThread>();
                output = std::make_unique<CatRadioOutput>(m_hamlib->thread(), wanted.rig);
            }
        } else {
            auto relay = std::make_unique<SerialRelayOutput>(m_ports);
            const std::optional<qint16> number = RelaySettings::portNumber(wanted.port);
            relay->select(number.value_or(0));
            relay->configure(wanted.line, number && m_heartbeat[size_t(*number)]);
            relay->setFailureMessage([port = wanted.port](const QString &detail) {
                return PortMessages::outputNotAvailable(port, detail);
            });
            output = std::move(relay);
        }
        connect(output.get(), &KeyedOutput::stateChanged, this, &KeyingEngine::portsChanged);
        connect(output.get(), &KeyedOutput::ready, this, &KeyingEngine::outputReady);
        connect(output.get(), &KeyedOutput::lost, this, [this, index = int(m_chain.size())] { outputLost(index); });
        connect(output.get(), &KeyedOutput::confirmed, this,
                [this, index = int(m_chain.size())](bool keyed) { outputConfirmed(index, keyed); });
        connect(output.get(), &KeyedOutput::failed, this, &KeyingEngine::portFailed, Qt::QueuedConnection);
        m_chain.push_back(output.get());
        m_more.push_back(std::move(output));
    }

    m_inhibitSettings = sequence.inhibit;
    m_inhibit.configure(sequence.inhibit);
    setInhibited(false);
}

void KeyingEngine::openPorts(const QString &inputPort, const QString &outputPort)
{
    if (m_pendingConfiguration) {
        // Opened once the walk has ended and the new settings are in force.
        m_deferredOpen = DeferredOpen{inputPort, outputPort, false};
        return;
    }
    m_shutDown = false;
    m_closing = Closing::None;
    m_wiring = false;
    m_inputPort = inputPort;
    m_outputPort = outputPort;
    // Whatever the footswitch was before, it counts from its next read.
    m_recheck.stop();
    if (m_debouncer.level()) {
        m_debouncer.reset(false);
        emit footswitchChanged(false);
    }
    if (allOutputsReady())
        enter(State::Released, Cause::OutputReady);
    else
        enter(State::OutputUnavailable, Cause::PortsClosed);

    m_inhibit.open(inputPort);
    readInhibit();

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
    readInhibit();
    // The outputs are opened once the input works, those that nothing is
    // bringing back already.
    openOutputs();
}

void KeyingEngine::openOutputs()
{
    const std::optional<qint16> number = RelaySettings::portNumber(m_outputPort);
    if (!number) {
        if (m_first.supervisor().state() == PortSupervisor::State::Closed)
            emit portFailed(PortMessages::outputNotAvailable(m_outputPort));
        return;
    }
    if (!m_first.line().isOpen() && !m_first.line().isOpening()) {
        m_first.configure(m_options.relayLine, m_heartbeat[size_t(*number)]);
        m_first.select(*number);
    }
    sharePortsBetweenOutputs(number);
    for (KeyedOutput *output : m_chain) {
        if (output->state() == PortSupervisor::State::Closed || output->isReady())
            output->open();
    }
}

void KeyingEngine::sharePortsBetweenOutputs(std::optional<qint16> firstOutputPort)
{
    // RTS and DTR of one adapter are two relays: the later output drives its
    // line on the earlier one's open. A port that feeds a footswitch or the
    // inhibit raises RTS and DTR as their supply, which would key a relay
    // there: such an output is refused, with the clash named.
    for (size_t index = 1; index < m_chain.size(); ++index) {
        auto *relay = qobject_cast<SerialRelayOutput *>(m_chain.at(index));
        if (!relay || relay->state() != PortSupervisor::State::Closed || relay->line().isOpen())
            continue;
        const qint16 port = relay->selectedPort();
        const QString name = QStringLiteral("Output %1 (COM %2, %3)")
                                 .arg(index + 1)
                                 .arg(port)
                                 .arg(StationSettings::relayLineText(relay->relayLine()));
        SerialRelayOutput *owner = nullptr;
        SequenceSettings::Output asSet;
        asSet.port = QString::number(port);
        QString clash;
        if (const std::optional<QString> supply = SequenceSettings::supplyClash(asSet, m_inputPort, m_inhibitSettings))
            clash = QStringLiteral("%1 is not available: %2").arg(name, *supply);
        for (size_t earlier = 0; earlier < index && clash.isEmpty(); ++earlier) {
            auto *other = qobject_cast<SerialRelayOutput *>(m_chain.at(earlier));
            if (!other)
                continue;
            // Output 1's port and line are the window's and the keying page's.
            const std::optional<qint16> otherPort = earlier == 0 ? firstOutputPort : other->selectedPort();
            const StationSettings::RelayLine otherLine = earlier == 0 ? m_options.relayLine : other->relayLine();
            if (otherPort != port)
                continue;
            if (otherLine == relay->relayLine())
                clash = QStringLiteral("%1 is not available: output %2 drives the same line.").arg(name).arg(earlier + 1);
            else if (!owner)
                owner = other;
        }
        relay->refuse(clash);
        relay->shareLineOf(clash.isEmpty() ? owner : nullptr);
    }
}

bool KeyingEngine::allOutputsReady() const
{
    return std::all_of(m_chain.cbegin(), m_chain.cend(), [](const KeyedOutput *output) { return output->isReady(); });
}

void KeyingEngine::outputReady()
{
    // Opened released; a footswitch still held keys only at its next press.
    if (m_state == State::OutputUnavailable && m_closing == Closing::None && allOutputsReady())
        enter(State::Released, Cause::OutputReady);
}

void KeyingEngine::outputLost(int index)
{
    // One output no longer follows: the descriptor the crash handler would
    // write to is closed now, the chain cannot key as a whole, and the others
    // are released in order. The lost one opens again in the background,
    // released, and the chain keys at the next press. A step it had under
    // way will never be confirmed: the walk goes on from now.
    FatalSignalRelease::disarm(index);
    if (m_awaited && m_awaited->output == index) {
        m_awaited.reset();
        m_confirmBound.stop();
        m_sequence.stepTookEffect(nowUs());
    }
    if (m_state != State::OutputUnavailable)
        enter(State::OutputUnavailable, Cause::OutputLost);
    else
        walk();
}

void KeyingEngine::closePorts()
{
    m_deferredOpen.reset();
    m_wiring = false;
    enter(State::OutputUnavailable, Cause::PortsClosed);
    closeInput();
    m_closing = Closing::Ports;
    if (!walkUnderWay())
        finishClosing();
}

void KeyingEngine::openForWiring(const QString &inputPort, const QString &outputPort)
{
    openPorts(inputPort, outputPort);
    if (m_deferredOpen)
        m_deferredOpen->wiring = true;
    else
        m_wiring = true;
}

std::optional<KeyingEngine::InputLevels> KeyingEngine::inputLevels()
{
    if (!m_input.isOpen())
        return std::nullopt;
    InputLevels levels{};
    try {
        for (size_t line = 0; line < levels.size(); ++line)
            levels[line] = m_input.lineHolding(SerialPortDevice::InputLine(line));
    } catch (const SerialLineError &) {
        inputLost();
        return std::nullopt;
    }
    return levels;
}

void KeyingEngine::testRelay()
{
    if (!m_wiring)
        return;
    operatorKey();
    if (m_state == State::KeyedByOperator)
        m_relayTest.start();
}

void KeyingEngine::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_deferredOpen.reset();
    m_pendingConfiguration.reset();
    enter(State::OutputUnavailable, Cause::Shutdown);
    closeInput();
    m_closing = Closing::Shutdown;
    if (!walkUnderWay())
        finishClosing();
}

void KeyingEngine::closeInput()
{
    // Input first, as always: the footswitch loses its supply before the
    // relays their drive.
    m_recheck.stop();
    m_inputSupervisor.stop();
    m_inhibit.close();
}

void KeyingEngine::finishClosing()
{
    const Closing closing = m_closing;
    m_closing = Closing::None;
    m_walkTimer.stop();
    m_confirmBound.stop();
    m_awaited.reset();
    // Disarmed before the descriptors close: a crash in between would write
    // to numbers that may be other files' by then.
    for (int slot = 0; slot < FatalSignalRelease::slotCount; ++slot)
        FatalSignalRelease::disarm(slot);
    for (KeyedOutput *output : m_chain)
        output->close();
    returnGrant();
    if (closing == Closing::Shutdown)
        emit closed();
}

void KeyingEngine::finishShutdown()
{
    shutdown();
    if (!isClosed()) {
        const int boundMs = m_sequence.releaseWalkMs() + 500;
        QEventLoop loop;
        QTimer bound;
        bound.setSingleShot(true);
        connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        connect(this, &KeyingEngine::closed, &loop, &QEventLoop::quit);
        bound.start(boundMs);
        loop.exec();
    }
    releaseAllNow();
    if (!isClosed())
        finishClosing();
}

void KeyingEngine::releaseAllNow()
{
    // No time for tails nor confirmations: the outputs drop at once, still
    // last first.
    m_confirmBound.stop();
    m_awaited.reset();
    m_sequence.setWanted(false, nowUs());
    // A confirmation inside a step must not start a walk of its own.
    const QScopedValueRollback<bool> walking(m_walking, true);
    while (m_sequence.keyedCount() > 0) {
        const int index = m_sequence.keyedCount() - 1;
        m_sequence.dropLast();
        applyStep({index, false, nowUs()});
        m_awaited.reset();
        FatalSignalRelease::disarm(index);
    }
    m_confirmBound.stop();
}

void KeyingEngine::enter(State next, Cause cause, const QString &notice)
{
    const State before = m_state;
    m_state = next;
    // Whatever the notice said (a countdown, what a time-out did) belonged to
    // the state that ends here.
    setNotice(notice);
    if (!isKeyed(next)) {
        m_timeout.released();
        // Whatever released the transmitter released every program's key,
        // and every wish waiting for the gate.
        m_clients.clear();
        m_wish.reset();
    }
    if (before != next || isKeyed(next)) {
        qCDebug(lcEngine) << "state" << m_state << cause;
        emit stateChanged(m_state, cause);
    }
    tellKeyingSource();
    walk();
}

void KeyingEngine::walk()
{
    // A step that fails changes what is wanted (the chain is released): the
    // loop takes the wish again before every step, and only once the step
    // before is confirmed, so that a reversal in flight sends the latest
    // wish next and never a stale one. A confirmation or a failure reported
    // inside a step comes back here and is taken by this loop.
    if (m_walking)
        return;
    m_walking = true;
    while (!m_awaited) {
        m_sequence.setWanted(isKeyed(m_state), nowUs());
        const std::optional<qint64> due = m_sequence.nextStepAt();
        const std::optional<OutputSequence::Step> step = m_sequence.takeStep(nowUs());
        if (!step)
            break;
        applyStep(*step, due);
    }
    m_walking = false;
    const std::optional<qint64> due = m_awaited ? std::nullopt : m_sequence.nextStepAt();
    if (due) {
        // Rounded up: a timer that fires early only finds the step not due.
        m_walkTimer.start(int(qMax<qint64>(0, (*due - nowUs() + 999) / 1000)));
    } else {
        m_walkTimer.stop();
    }
    const bool active = isKeyed() || walkUnderWay();
    for (KeyedOutput *output : m_chain)
        output->setChainActive(active);
    if (keyedOutputs() != m_toldKeyed) {
        m_toldKeyed = keyedOutputs();
        emit outputsKeyedChanged(m_toldKeyed, outputCount());
    }
    if (!walkUnderWay())
        walkEnded();
    // The chain first, then the claim: a release never waits for the gate.
    if (!isKeyed() && !walkUnderWay())
        returnGrant();
}

void KeyingEngine::walkEnded()
{
    if (m_closing != Closing::None)
        finishClosing();
    if (!m_pendingConfiguration)
        return;
    const Configuration configuration = *std::exchange(m_pendingConfiguration, std::nullopt);
    apply(configuration);
    emit portsChanged();
    if (const std::optional<DeferredOpen> open = std::exchange(m_deferredOpen, std::nullopt)) {
        if (open->wiring)
            openForWiring(open->inputPort, open->outputPort);
        else
            openPorts(open->inputPort, open->outputPort);
    }
}

void KeyingEngine::applyStep(const OutputSequence::Step &step, std::optional<qint64> dueUs)
{
    KeyedOutput *output = m_chain.at(size_t(step.output));
    // With the time it was due, when a walk's timer took it: how late it is.
    if (dueUs) {
        qCDebug(lcEngine) << "output" << step.output + 1 << (step.keyed ? "keyed" : "released") << "at" << step.at
                          << "due" << *dueUs;
    } else {
        qCDebug(lcEngine) << "output" << step.output + 1 << (step.keyed ? "keyed" : "released") << "at" << step.at;
    }
    m_awaited = Awaited{step.output, step.keyed};
    if (step.keyed) {
        // Armed before the line rises: once the command is with the kernel
        // the far end may already be keyed, and a fatal signal in the moment
        // before arming would leave it so.
        FatalSignalRelease::arm(output->crashRelease(), step.output);
    }
    if (!output->drive(step.keyed)) {
        // Failed at once: lost() has been told, and nothing will confirm.
        FatalSignalRelease::disarm(step.output);
        if (m_awaited && m_awaited->output == step.output) {
            m_awaited.reset();
            m_sequence.stepTookEffect(nowUs());
        }
        return;
    }
    if (m_awaited && m_awaited->output == step.output) {
        m_awaited->deadlineUs = nowUs() + qint64(output->confirmBoundMs()) * 1000;
        m_confirmBound.start(output->confirmBoundMs());
    }
}

void KeyingEngine::outputConfirmed(int index, bool keyed)
{
    if (!m_awaited || m_awaited->output != index || m_awaited->keyed != keyed)
        return;
    m_awaited.reset();
    m_confirmBound.stop();
    // Armed until a release is confirmed: a crash before then must still
    // send it.
    if (!keyed)
        FatalSignalRelease::disarm(index);
    qCDebug(lcEngine) << "output" << index + 1 << (keyed ? "keyed" : "released") << "confirmed at" << nowUs();
    // The next lead or tail counts from now.
    m_sequence.stepTookEffect(nowUs());
    walk();
}

void KeyingEngine::confirmationOverdue()
{
    if (!m_awaited)
        return;
    const Awaited awaited = *m_awaited;
    KeyedOutput *output = m_chain.at(size_t(awaited.output));
    const QString where = output->portNumber().isEmpty()
        ? output->location()
        : QStringLiteral("COM %1, %2").arg(output->portNumber(), output->location());
    emit portFailed(awaited.keyed
                        ? QStringLiteral("Output %1 (%2) did not confirm keying within %3 ms: it is opened again, "
                                         "and the chain is released.")
                              .arg(awaited.output + 1)
                              .arg(where)
                              .arg(output->confirmBoundMs())
                        : QStringLiteral("Output %1 (%2) did not confirm its release within %3 ms: it may still be "
                                         "transmitting. The outputs before it are released now.")
                              .arg(awaited.output + 1)
                              .arg(where)
                              .arg(output->confirmBoundMs()));
    // Lost: that ends the wait (outputLost), and the walk goes on without it.
    output->abandon();
    if (m_awaited) {
        m_awaited.reset();
        m_sequence.stepTookEffect(nowUs());
        walk();
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

void KeyingEngine::reportFailure()
{
    emit portFailed(PortMessages::inputNotAvailable(m_inputPort, m_input.openFailureDetail()));
}

void KeyingEngine::poll()
{
    readInhibit();
    readFootswitch();
    checkTimeout();
    for (KeyedOutput *output : m_chain)
        output->check();
    // The bound's timer runs on the real clock; a poll sees it on the
    // engine's own.
    if (m_awaited && m_awaited->deadlineUs > 0 && nowUs() >= m_awaited->deadlineUs)
        confirmationOverdue();
    walk();
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
    if (m_wiring)
        return; // only reported: the wiring assistant is listening
    if (m_debouncer.level())
        footswitchPressedEdge();
    else
        footswitchReleasedEdge();
}

void KeyingEngine::readInhibit()
{
    m_lineInhibited = m_inhibit.read(m_input, m_inputSupervisor);
    setInhibited(m_lineInhibited || m_gateInhibited);
}

void KeyingEngine::setInhibited(bool inhibited)
{
    if (inhibited == m_inhibited)
        return;
    m_inhibited = inhibited;
    qCDebug(lcEngine) << "inhibited" << inhibited;
    emit inhibitedChanged(inhibited);
    // Keyed when it came: the chain is released in order. A footswitch still
    // held when it ends keys nothing until its next press.
    if (inhibited && (isKeyed() || m_state == State::TimedOut))
        enter(State::Released, Cause::Inhibited);
    setNotice(m_notice == inhibitedNotice ? QString() : m_notice);
}

void KeyingEngine::setFootswitch(bool pressed)
{
    emit footswitchChanged(pressed);
}

void KeyingEngine::footswitchPressedEdge()
{
    if (m_inhibited)
        return;
    switch (m_state) {
    case State::Released:
        keyBy(State::KeyedByFootswitch, Cause::Footswitch);
        break;
    case State::KeyedByOperator:
    case State::KeyedByClient:
        // A press while keyed by the operator makes it the footswitch's:
        // its release ends the transmission. A fresh press is a deliberate
        // act, so the time-out counts from it.
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
        // A program that keyed meanwhile still wants the transmitter.
        enter(m_clients.isEmpty() ? State::Released : State::KeyedByClient, Cause::Footswitch);
        break;
    case State::TimedOut:
        enter(State::Released, Cause::Footswitch);
        break;
    case State::Released:
        // The press is over: what the gate said of it is no longer news.
        if (!m_refusal.isEmpty() && m_notice == m_refusal)
            setNotice({});
        break;
    case State::KeyedByClient:
    case State::OutputUnavailable:
        break;
    }
}

void KeyingEngine::operatorKey()
{
    if (m_state == State::OutputUnavailable || m_inhibited)
        return;
    if (!isKeyed()) {
        keyBy(State::KeyedByOperator, Cause::Operator);
        return;
    }
    m_timeout.keyed(now());
    enter(State::KeyedByOperator, Cause::Operator);
}

void KeyingEngine::setGate(KeyingGate *gate)
{
    if (m_gate)
        m_gate->disconnect(this);
    m_gate = gate;
    m_gateAsked = m_gateHeld = m_gateInhibited = false;
    if (!m_gate)
        return;
    connect(m_gate, &KeyingGate::granted, this, &KeyingEngine::gateGranted);
    connect(m_gate, &KeyingGate::refused, this, &KeyingEngine::gateRefused);
    connect(m_gate, &KeyingGate::inhibitChanged, this, [this](bool inhibited) {
        m_gateInhibited = inhibited;
        setInhibited(m_lineInhibited || m_gateInhibited);
    });
}

void KeyingEngine::keyBy(State keyed, Cause cause)
{
    if (!m_gate || !m_gate->isRequired()) {
        m_timeout.keyed(now());
        enter(keyed, cause);
        return;
    }
    // Keys once the claim has settled; the latest wish decides then.
    m_wish = keyed;
    if (!m_gateAsked) {
        m_gateAsked = true;
        m_gate->request();
    }
}

void KeyingEngine::gateGranted()
{
    if (!m_gateAsked)
        return;
    m_gateAsked = false;
    std::optional<State> wish = std::exchange(m_wish, std::nullopt);
    // A press let go, or a program that released, while the claim settled.
    if (wish == State::KeyedByFootswitch && !m_debouncer.level())
        wish = m_clients.isEmpty() ? std::nullopt : std::optional(State::KeyedByClient);
    if (wish == State::KeyedByClient && m_clients.isEmpty())
        wish.reset();
    if (!wish || isKeyed() || m_state == State::OutputUnavailable || m_inhibited) {
        m_gate->chainReleased();
        return;
    }
    m_gateHeld = true;
    m_timeout.keyed(now());
    enter(*wish, *wish == State::KeyedByFootswitch ? Cause::Footswitch
                 : *wish == State::KeyedByOperator ? Cause::Operator
                                                   : Cause::Client);
}

void KeyingEngine::returnGrant()
{
    if (!m_gateHeld || !m_gate)
        return;
    m_gateHeld = false;
    m_gate->chainReleased();
}

void KeyingEngine::gateRefused(const QString &reason)
{
    if (!m_gateAsked)
        return;
    m_gateAsked = false;
    m_wish.reset();
    m_clients.clear();
    m_refusal = reason;
    setNotice(reason);
}

void KeyingEngine::operatorRelease()
{
    switch (m_state) {
    case State::KeyedByFootswitch:
    case State::KeyedByOperator:
    case State::KeyedByClient:
        enter(State::Released, Cause::Operator);
        break;
    case State::Released:
    case State::TimedOut:
        // Rx while the gate is asked: nothing keys when it answers.
        m_wish.reset();
        m_clients.clear();
        break;
    case State::OutputUnavailable:
        break;
    }
}

void KeyingEngine::clientKey(const QString &client)
{
    if (m_state == State::OutputUnavailable || m_inhibited || m_wiring || m_clients.contains(client))
        return;
    m_clients.append(client);
    if (isKeyed()) {
        // Joins the transmission on the air: the time-out still counts from
        // its start, so a program that asks again and again cannot hold the
        // transmitter past it.
        tellKeyingSource();
        return;
    }
    keyBy(State::KeyedByClient, Cause::Client);
}

void KeyingEngine::clientRelease(const QString &client)
{
    if (!m_clients.removeOne(client))
        return;
    if (m_state == State::KeyedByClient && m_clients.isEmpty())
        enter(State::Released, Cause::Client);
    else
        tellKeyingSource();
}

QString KeyingEngine::keyingSource() const
{
    switch (m_state) {
    case State::KeyedByFootswitch:
        return QStringLiteral("footswitch");
    case State::KeyedByOperator:
        return QStringLiteral("Tx button");
    case State::KeyedByClient:
        return m_clients.value(0);
    case State::Released:
    case State::TimedOut:
    case State::OutputUnavailable:
        break;
    }
    return {};
}

void KeyingEngine::tellKeyingSource()
{
    const QString source = keyingSource();
    if (source == m_toldSource)
        return;
    m_toldSource = source;
    emit keyingSourceChanged(source);
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

void KeyingEngine::setNotice(const QString &notice)
{
    // While inhibited, that is what the operator must see when nothing more
    // pressing is to be said.
    const QString shown = notice.isEmpty() && m_inhibited ? inhibitedNotice : notice;
    if (shown == m_notice)
        return;
    m_notice = shown;
    emit noticeChanged(m_notice);
}
