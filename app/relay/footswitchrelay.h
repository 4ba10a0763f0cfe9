#pragma once

#include <QObject>

class ZelvoFootswitch2;

// The poll-and-drive chain. Every tick reads CTS of the input port into the
// hidden status box Check1; only a change of that box runs the status
// change, which shows the lamp and presses cmdTx or cmdRx; each trigger
// swaps the Rx/Tx markers and sets RTS of the output port. A mouse click on
// a plain trigger runs the same action.
class FootswitchRelay : public QObject
{
    Q_OBJECT

public:
    explicit FootswitchRelay(ZelvoFootswitch2 &window);

    // Wires the chain to the window's timer and controls.
    void connectControls();

    void Timer1_Timer();
    void Check1_Click();
    void cmdTx_Click();
    void cmdRx_Click();

signals:
    // The input's device went away while open; the line is closed now.
    void inputLost();
    // The output's device went away, or it refused its line: the relay no
    // longer follows the switch.
    void outputLost();

private:
    void driveOutput(bool keyed);
    void checkOutput();
    void showReleasedMarkers();

    ZelvoFootswitch2 &m_window;
};
