#pragma once

class ZelvoFootswitch2;

// Brings the main window into working order: fills in missing settings,
// restores the position, the port numbers and the on-top state, opens the
// input port and raises its RTS as the footswitch supply, opens the output
// port, and shows the released ("Rx") state. Runs when the window is first
// shown and on every return from the About window.
class ActivationSequence
{
public:
    explicit ActivationSequence(ZelvoFootswitch2 &window);

    void run();
    bool isRunning() const { return m_running; }

private:
    void fillInMissingSettings();
    void restorePosition();
    void restorePortChoices();
    void restoreOnTop();
    bool openInputPort();
    bool openOutputPort();
    void showReleasedState();

    ZelvoFootswitch2 &m_window;
    bool m_running = false;
};
