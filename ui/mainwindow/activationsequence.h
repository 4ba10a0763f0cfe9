#pragma once

class ZelvoFootswitch2;

// Brings the main window into working order: fills in missing settings,
// restores the position, the port numbers and the on-top state, and has the
// keying engine open the input port (raising its RTS as the footswitch
// supply) and then the output port, released. Runs when the window is first
// shown and on every return from the About or settings window.
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

    ZelvoFootswitch2 &m_window;
    bool m_running = false;
};
