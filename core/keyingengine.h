#pragma once

#include "core/footswitchdebouncer.h"
#include "core/footswitchoptions.h"
#include "core/inhibitinput.h"
#include "core/keyinggate.h"
#include "core/outputsequence.h"
#include "core/portsupervisor.h"
#include "core/sequencesettings.h"
#include "core/serialline.h"
#include "core/serialrelayoutput.h"
#include "core/transmittimeout.h"
#include "platform/cat/hamlibrig.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class SettingsStore;

// The one owner of the transmitter. It holds the footswitch input and the
// chain of outputs (output 1, the relay, and up to three more relays or
// radios by CAT), reads the footswitch through the debouncer, keeps every
// port open through its supervisor, times each transmission, and arms the
// crash release. Whether the transmitter should be keyed is one explicit
// state; every event (a press, a click, the time-out, the inhibit input, a
// lost or returning port, the ports closed for another window, the end) is
// a transition of it, and the outputs follow the state alone, in order:
// keying walks 1 -> N, each output waiting for the lead of the one before,
// and releasing walks N -> 1, each waiting for its own tail (OutputSequence).
// A step counts when its output has confirmed it (KeyedOutput::confirmed):
// one step is under way at a time, the next lead or tail counts from the
// confirmation, and the latest wish decides the step after it, so a
// reversal never queues a stale command behind one in flight. A step not
// confirmed within its output's bound makes that output lost; a release
// walk then goes on without it.
//
// - the keyed outputs always form a prefix 1..k; they only grow while the
//   state is keyed, and a keyed state is only entered with every output
//   ready;
// - a port that opens applies "released" before it counts as ready, whatever
//   was asked while it was closed;
// - the crash release of an output is armed exactly while it is keyed;
// - the time-out runs exactly while keyed.
//
// Windows and the console only show what it says through its signals and
// forward what the operator does. Someone calls poll() every 100 ms.
class KeyingEngine : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Released,
        KeyedByFootswitch,
        KeyedByOperator,
        KeyedByClient,     // by programs through the PTT server, and no one else
        TimedOut,          // released by the time-out; the footswitch keys again once let go
        OutputUnavailable, // closed, opening, lost or refused: nothing can key
    };
    Q_ENUM(State)

    // Why the state changed.
    enum class Cause {
        Footswitch,
        Operator,
        Timeout,
        InputLost,
        OutputLost,
        OutputReady,
        PortsClosed,
        Shutdown,
        Inhibited,
        Client,
    };
    Q_ENUM(Cause)

    static constexpr int PollIntervalMs = 100;

    explicit KeyingEngine(SerialPortFactory &ports, QObject *parent = nullptr);
    ~KeyingEngine() override;

    // For tests: the time in microseconds on a clock that only goes forward.
    void setClock(std::function<qint64()> clockUs) { m_clock = std::move(clockUs); }

    // For tests: what makes a radio output. By default a radio by CAT
    // through Hamlib, on a thread started when the first one is configured,
    // so that a station without a radio never loads Hamlib's backends.
    using RadioMaker = std::function<std::unique_ptr<KeyedOutput>(const RigAddress &rig)>;
    void setRadioMaker(RadioMaker maker) { m_radioMaker = std::move(maker); }

    // For a position that shares its transmitter: a released chain keys only
    // once the gate has granted it, and gives the grant back once released.
    // The gate's inhibit counts as the inhibit line's. Not owned.
    void setGate(KeyingGate *gate);

    // Takes the wiring, the time-out, the heartbeats, the outputs in
    // sequence and the inhibit input as stored. While a release walk is
    // under way the chain as it is finishes it with its tails first; the
    // new settings (and an openPorts() meanwhile) take effect after it.
    void configure(const SettingsStore &settings);
    const FootswitchOptions &options() const { return m_options; }

    // Opens the input ("1" to "9") in the background, supplies the footswitch
    // and then opens the output; shows the footswitch released until the
    // next read. A port already open stays open. A port that cannot be opened
    // is reported through portFailed() once and tried again until it comes.
    void openPorts(const QString &inputPort, const QString &outputPort);
    // Releases and closes the ports for another window of the program that
    // changes the wiring (About, settings); openPorts() brings them back.
    // The input closes at once; the outputs once the release walk is done.
    void closePorts();
    // Releases and closes the ports for good, the input first and the
    // outputs once the release walk is done (closed() then).
    void shutdown();
    // For the end of the program, after its event loop: shuts down and lets
    // the release walk finish (its tails, and a little more), then releases
    // whatever is left at once, N -> 1.
    void finishShutdown();
    // Every output released and closed after shutdown().
    bool isClosed() const { return m_shutDown && m_closing == Closing::None; }

    // For the wiring assistant: opens the ports as openPorts() does, but the
    // footswitch keys nothing until closePorts() or openPorts(); its changes
    // are only reported.
    void openForWiring(const QString &inputPort, const QString &outputPort);
    bool isOpenForWiring() const { return m_wiring; }
    // CTS, DSR, DCD and RI of the open input, indexed by InputLine; nothing
    // while it is not open. A failed read loses the input as any read does.
    using InputLevels = std::array<bool, 4>;
    std::optional<InputLevels> inputLevels();
    // Keys as the operator does and releases after RelayTestMs, so that the
    // relay can be heard; only while open for wiring. Any other release
    // ends the test.
    static constexpr int RelayTestMs = 1000;
    void testRelay();
    bool isRelayTestRunning() const { return m_relayTest.isActive(); }

    // The operator's "Tx" and "Rx". "Rx" releases the transmitter whoever
    // keyed it, programs included: it is the operator's way to stop it.
    void operatorKey();
    void operatorRelease();

    // A program that keys through the PTT server, named as the operator
    // should read it ("rigctl client 127.0.0.1:53422"). The chain is keyed
    // while any source wants it; each program releases only its own key, and
    // whatever releases the transmitter for the program's sake (time-out,
    // inhibit, a lost port, "Rx") ends every program's key: it must ask
    // again. Nothing keys while the outputs cannot follow or during the
    // wiring assistant.
    void clientKey(const QString &client);
    void clientRelease(const QString &client);
    // What keeps the chain keyed: "footswitch", "Tx button", a client's name,
    // or nothing while released.
    QString keyingSource() const;

    // Reads the footswitch and the inhibit input, checks the time-out, looks
    // at the outputs and takes the steps of the walk that are due.
    void poll();
    // The input reported a change of its lines: poll now, and once more when
    // a bouncing contact has had time to settle.
    void footswitchLineChanged();

    State state() const { return m_state; }
    static bool isKeyed(State state)
    {
        return state == State::KeyedByFootswitch || state == State::KeyedByOperator || state == State::KeyedByClient;
    }
    bool isKeyed() const { return isKeyed(m_state); }
    // How many outputs may be keyed now (1..k), out of outputCount(): a
    // release counts only once confirmed. Above zero the transmitter is
    // keyed, also while a release walk runs.
    int keyedOutputs() const { return m_sequence.keyedCount() + (m_awaited && !m_awaited->keyed ? 1 : 0); }
    int outputCount() const { return int(m_chain.size()); }
    bool isTransmitting() const { return keyedOutputs() > 0; }
    const KeyedOutput &outputAt(int index) const { return *m_chain.at(size_t(index)); }
    bool isInhibited() const { return m_inhibited; }
    bool footswitchPressed() const { return m_debouncer.level(); }
    QString notice() const { return m_notice; }
    bool isTimeoutRunning() const { return m_timeout.isRunning(); }

    SerialLine &input() { return m_input; }
    SerialLine &output() { return m_first.line(); }
    const SerialLine &input() const { return m_input; }
    const SerialLine &output() const { return m_first.line(); }
    PortSupervisor &inputSupervisor() { return m_inputSupervisor; }
    PortSupervisor &outputSupervisor() { return m_first.supervisor(); }
    const PortSupervisor &inputSupervisor() const { return m_inputSupervisor; }
    const PortSupervisor &outputSupervisor() const { return m_first.supervisor(); }
    // The port numbers last asked for, as text.
    QString inputPort() const { return m_inputPort; }
    QString outputPort() const { return m_outputPort; }

signals:
    void footswitchChanged(bool pressed);
    void stateChanged(KeyingEngine::State state, KeyingEngine::Cause cause);
    // A port's state or retry count changed.
    void portsChanged();
    // What the operator must know now ("" for nothing): the time-out's
    // countdown or what it did.
    void noticeChanged(const QString &notice);
    // A port cannot be used: one message per failure, not per retry.
    void portFailed(const QString &message);
    // The walk keyed or released an output: `keyed` of `count` are keyed.
    void outputsKeyedChanged(int keyed, int count);
    void inhibitedChanged(bool inhibited);
    // configure() took the settings (in force now or after the walk).
    void configured();
    // keyingSource() changed, after the stateChanged() that changed it.
    void keyingSourceChanged(const QString &source);
    // Every output is released and closed after shutdown().
    void closed();

private:
    enum class Closing { None, Ports, Shutdown };

    // Everything configure() takes, so that it can wait for a walk.
    struct Configuration
    {
        FootswitchOptions options;
        std::array<bool, 10> heartbeat{};
        SequenceSettings::Sequence sequence;
    };
    // The step under way, until its output confirms it.
    struct Awaited
    {
        int output = 0;
        bool keyed = false;
        qint64 deadlineUs = 0;
    };
    struct DeferredOpen
    {
        QString inputPort;
        QString outputPort;
        bool wiring = false;
    };

    void enter(State next, Cause cause, const QString &notice = {});
    void apply(const Configuration &configuration);
    bool walkUnderWay() const { return m_sequence.keyedCount() > 0 || m_awaited.has_value(); }
    void walkEnded();
    void sharePortsBetweenOutputs(std::optional<qint16> firstOutputPort);
    void outputConfirmed(int index, bool keyed);
    void confirmationOverdue();
    void walk();
    void applyStep(const OutputSequence::Step &step, std::optional<qint64> dueUs = std::nullopt);
    void releaseAllNow();
    void finishClosing();
    void closeInput();
    bool allOutputsReady() const;
    void outputReady();
    void outputLost(int index);
    void inputLost();
    void footswitchPressedEdge();
    void footswitchReleasedEdge();
    void readFootswitch();
    void readInhibit();
    void setInhibited(bool inhibited);
    void checkTimeout();
    void setFootswitch(bool pressed);
    void setNotice(const QString &notice);
    void tellKeyingSource();
    void keyBy(State keyed, Cause cause);
    void gateGranted();
    void gateRefused(const QString &reason);
    // Once the chain has released every output after a grant.
    void returnGrant();
    void inputReady();
    void openOutputs();
    void reportFailure();
    void buildChain(const SequenceSettings::Sequence &sequence);
    qint64 nowUs() const { return m_clock(); }
    qint64 now() const { return m_clock() / 1000; }

    SerialPortFactory &m_ports;
    SerialLine m_input;
    PortSupervisor m_inputSupervisor{m_input};
    SerialRelayOutput m_first;
    // Declared before the outputs, so that it outlives their last calls.
    std::unique_ptr<HamlibThread> m_hamlib;
    RadioMaker m_radioMaker;
    std::vector<std::unique_ptr<KeyedOutput>> m_more;
    // Output 1 and the rest, in order.
    std::vector<KeyedOutput *> m_chain{&m_first};
    OutputSequence m_sequence{{OutputSequence::Timing{}}, 1000};
    std::optional<Awaited> m_awaited;
    QTimer m_confirmBound;
    std::optional<Configuration> m_pendingConfiguration;
    std::optional<DeferredOpen> m_deferredOpen;
    InhibitInput m_inhibit;
    SequenceSettings::Inhibit m_inhibitSettings;
    bool m_inhibited = false;
    FootswitchOptions m_options;
    FootswitchDebouncer m_debouncer{m_options.debounceMs};
    TransmitTimeout m_timeout;
    // Per port number: whether a network port sends its keep-alive byte.
    std::array<bool, 10> m_heartbeat{};
    QString m_inputPort;
    QString m_outputPort;
    State m_state = State::OutputUnavailable;
    Closing m_closing = Closing::None;
    bool m_shutDown = false;
    bool m_walking = false;
    // keyedOutputs() as last told through outputsKeyedChanged().
    int m_toldKeyed = 0;
    QString m_notice;
    // Programs keying through the PTT server, the first one first.
    QStringList m_clients;
    QString m_toldSource;
    QPointer<KeyingGate> m_gate;
    // What keys once the gate grants it, while it is asked.
    std::optional<State> m_wish;
    bool m_gateAsked = false;
    bool m_gateHeld = false;
    // What the gate said when it last refused, shown until the press ends.
    QString m_refusal;
    bool m_lineInhibited = false;
    bool m_gateInhibited = false;
    QElapsedTimer m_monotonic;
    std::function<qint64()> m_clock = [this] { return m_monotonic.nsecsElapsed() / 1000; };
    // Reads the line again when a new level is due to be confirmed.
    QTimer m_recheck;
    // Takes the next step of a walk when it is due.
    QTimer m_walkTimer;
    bool m_wiring = false;
    QTimer m_relayTest;
};
