#pragma once

#include "core/footswitchdebouncer.h"
#include "core/footswitchoptions.h"
#include "core/portsupervisor.h"
#include "core/serialline.h"
#include "core/transmittimeout.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>

class SettingsStore;

// The one owner of the transmitter. It holds the footswitch input and the
// relay output, reads the footswitch through the debouncer, keeps both ports
// open through their supervisors, times each transmission, and arms the
// crash release. Whether the relay is keyed is one explicit state; every
// event (a press, a click, the time-out, a lost or returning port, the ports
// closed for another window, the end) is a transition of it, and the relay
// line is driven from the state alone:
//
// - the relay line is high only while the state is keyed, and a keyed state
//   is only ever entered with the output ready;
// - a port that opens applies "released" before it counts as ready, whatever
//   was asked while it was closed;
// - the crash release is armed exactly while the relay line is high;
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
    };
    Q_ENUM(Cause)

    static constexpr int PollIntervalMs = 100;

    explicit KeyingEngine(SerialPortFactory &ports, QObject *parent = nullptr);
    ~KeyingEngine() override;

    // For tests: the time in milliseconds on a clock that only goes forward.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    // Takes the wiring, the time-out and the heartbeats as stored.
    void configure(const SettingsStore &settings);
    const FootswitchOptions &options() const { return m_options; }

    // Opens the input ("1" to "9") in the background, supplies the footswitch
    // and then opens the output; shows the footswitch released until the
    // next read. A port already open stays open. A port that cannot be opened
    // is reported through portFailed() once and tried again until it comes.
    void openPorts(const QString &inputPort, const QString &outputPort);
    // Releases and closes both ports for another window of the program that
    // changes the wiring (About, settings); openPorts() brings them back.
    void closePorts();
    // Releases and closes both ports for good, the input first.
    void shutdown();

    // The operator's "Tx" and "Rx".
    void operatorKey();
    void operatorRelease();

    // Reads the footswitch, checks the time-out and looks at the output.
    void poll();
    // The input reported a change of its lines: poll now, and once more when
    // a bouncing contact has had time to settle.
    void footswitchLineChanged();

    State state() const { return m_state; }
    static bool isKeyed(State state) { return state == State::KeyedByFootswitch || state == State::KeyedByOperator; }
    bool isKeyed() const { return isKeyed(m_state); }
    bool footswitchPressed() const { return m_debouncer.level(); }
    QString notice() const { return m_notice; }
    bool isTimeoutRunning() const { return m_timeout.isRunning(); }

    SerialLine &input() { return m_input; }
    SerialLine &output() { return m_output; }
    const SerialLine &input() const { return m_input; }
    const SerialLine &output() const { return m_output; }
    PortSupervisor &inputSupervisor() { return m_inputSupervisor; }
    PortSupervisor &outputSupervisor() { return m_outputSupervisor; }
    const PortSupervisor &inputSupervisor() const { return m_inputSupervisor; }
    const PortSupervisor &outputSupervisor() const { return m_outputSupervisor; }
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

private:
    void enter(State next, Cause cause, const QString &notice = {});
    bool driveRelay(bool high);
    void outputLost();
    void inputLost();
    void footswitchPressedEdge();
    void footswitchReleasedEdge();
    void readFootswitch();
    void checkTimeout();
    void checkOutput();
    void setFootswitch(bool pressed);
    void setNotice(const QString &notice);
    void inputReady();
    void outputReady();
    void openOutput();
    void reportFailure(bool isInput);
    qint64 now() const { return m_clock(); }

    SerialLine m_input;
    SerialLine m_output;
    PortSupervisor m_inputSupervisor{m_input};
    PortSupervisor m_outputSupervisor{m_output};
    FootswitchOptions m_options;
    FootswitchDebouncer m_debouncer{m_options.debounceMs};
    TransmitTimeout m_timeout;
    // Per port number: whether a network port sends its keep-alive byte.
    std::array<bool, 10> m_heartbeat{};
    QString m_inputPort;
    QString m_outputPort;
    State m_state = State::OutputUnavailable;
    bool m_relayHigh = false;
    bool m_shutDown = false;
    QString m_notice;
    QElapsedTimer m_monotonic;
    std::function<qint64()> m_clock = [this] { return m_monotonic.elapsed(); };
    // Reads the line again when a new level is due to be confirmed.
    QTimer m_recheck;
};
