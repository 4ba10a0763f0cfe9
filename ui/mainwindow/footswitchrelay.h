#pragma once

#include "core/footswitchdebouncer.h"
#include "core/footswitchoptions.h"
#include "core/transmittimeout.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class ZelvoFootswitch2;

// The poll-and-drive chain. Every tick reads the footswitch line of the
// input port; a level that has held for the debounce time sets the hidden
// status box Check1; only a change of that box runs the status change, which
// shows the lamp and presses cmdTx or cmdRx; each trigger swaps the Rx/Tx
// markers and drives the relay line of the output port. A mouse click on a
// plain trigger runs the same action. Where the input reports its line
// changes, the same tick runs at once on each change; the 100 ms timer stays
// as the heartbeat and as the fallback.
//
// The transmit time-out releases a transmitter keyed for too long; keyed by
// the footswitch, it stays released until the footswitch is let go.
class FootswitchRelay : public QObject
{
    Q_OBJECT

public:
    explicit FootswitchRelay(ZelvoFootswitch2 &window);

    // Wires the chain to the window's timer and controls.
    void connectControls();
    // Takes the wiring and the time-out as stored; called by activation.
    void configure(const FootswitchOptions &options);
    const FootswitchOptions &options() const { return m_options; }
    // The input (re)opened: RTS and DTR supply the footswitch, so that a
    // switch wired from either works, and it is read afresh.
    void supplyFootswitch();
    // Records the relay line released, and drives it so on an open output;
    // with the relay on DTR, RTS is held low as well.
    void releaseOutputLine();
    void showReleasedMarkers();
    // For tests: the time in milliseconds on a clock that only goes forward.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    void Timer1_Timer();
    // The input reported a change of its lines: the tick at once.
    void footswitchLineChanged();
    void Check1_Click();
    void cmdTx_Click();
    void cmdRx_Click();

signals:
    // The input's device went away while open; the line is closed now.
    void inputLost();
    // The output's device went away, or it refused its line: the relay no
    // longer follows the switch.
    void outputLost();
    // What the operator must know about the time-out ("" for nothing).
    void noticeChanged(const QString &notice);

private:
    void readFootswitch();
    void driveOutput(bool keyed);
    void checkOutput();
    void checkTimeout();
    void setNotice(const QString &notice);
    qint64 now() const { return m_clock(); }

    ZelvoFootswitch2 &m_window;
    FootswitchOptions m_options;
    FootswitchDebouncer m_debouncer{m_options.debounceMs};
    TransmitTimeout m_timeout;
    QElapsedTimer m_monotonic;
    std::function<qint64()> m_clock = [this] { return m_monotonic.elapsed(); };
    // Reads the line again when a new level is due to be confirmed.
    QTimer m_recheck;
    // Set while the status change presses a trigger: that keying is the
    // footswitch's, not the mouse's.
    bool m_pressedByFootswitch = false;
    QString m_notice;
};
