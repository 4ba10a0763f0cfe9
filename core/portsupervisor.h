#pragma once

#include <QObject>
#include <QTimer>

class SerialLine;

// Keeps one serial line open for as long as the program wants it open. A
// port that failed to open or was lost is opened again in the background
// until it comes back: a local device about every two seconds (an unplugged
// adapter comes back under the same name), a network port with a back-off
// from one second up to half a minute, so that a server that is down is not
// hammered. The opens never wait on this thread.
//
// The supervisor does not tell the user anything itself: it says whether a
// failure is new (worth one message) and reports its state for the window.
class PortSupervisor : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Closed,       // not wanted open (About or settings window, or not reached yet)
        Connecting,   // a first open under way
        Ready,
        NotAvailable, // the open failed; retrying
        NoPermission, // the device is there, this user may not open it; retrying
        Lost,         // it was open and went away; retrying
    };
    Q_ENUM(State)

    static constexpr int LocalRetryMs = 2000;
    static constexpr int NetworkFirstRetryMs = 1000;
    static constexpr int NetworkMaxRetryMs = 30000;

    explicit PortSupervisor(SerialLine &line, QObject *parent = nullptr);

    // How long to wait before the given retry (1 for the first).
    static int retryDelayMs(bool networkPort, int retry);

    // The owner opened the line itself and it worked.
    void opened();
    // The owner's own open failed: retry in the background. `toldUser`: the
    // owner has said so already, so this failure needs no message of its own.
    void openFailed(bool toldUser = false);
    // The open line failed (device lost, a write refused) and is closed now:
    // retry in the background.
    // `toldUser`: the caller has told the user already; no newFailure().
    void lost(bool toldUser = false);
    // Opens the line in the background now (after which it retries as above).
    void openLater();
    // The line is closed on purpose: no more retries.
    void stop();

    State state() const { return m_state; }
    // Retries made since the last failure began.
    int retries() const { return m_retries; }
    // When the next retry is due, from now; -1 when none is planned.
    int nextRetryInMs() const;

    // Runs the retry that is due (the timer calls it; so can a test).
    void retry();

signals:
    void stateChanged(PortSupervisor::State state);
    // A background open succeeded: the owner brings the line back into use.
    void reopened();
    // A failure began: worth telling the user once. Later rounds of retries
    // that fail too are the same failure and say nothing.
    void newFailure();

private:
    void setState(State state);
    void beginFailure(bool toldUser);
    void scheduleRetry();
    void backgroundOpenFinished(bool opened);
    bool isNetworkPort() const;
    State failedState() const;

    SerialLine &m_line;
    State m_state = State::Closed;
    int m_retries = 0;
    // Until the port has been open once since the failure began, further
    // failures are rounds of the same one and tell nobody.
    bool m_failureReported = false;
    QTimer m_retryTimer;
};
