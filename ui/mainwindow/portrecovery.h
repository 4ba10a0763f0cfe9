#pragma once

#include "core/portsupervisor.h"

#include <QObject>

class ZelvoFootswitch2;

// Brings the two ports back after a failure without the user's help: each
// line has a supervisor that reopens it in the background. An input that
// comes back raises its supply again and, if activation stopped at it, opens
// the output; an output comes back released and keys at the next press. The
// user is told once per failure, not once per retry.
class PortRecovery : public QObject
{
    Q_OBJECT

public:
    explicit PortRecovery(ZelvoFootswitch2 &window);

    PortSupervisor &input() { return m_input; }
    PortSupervisor &output() { return m_output; }

    // Activation opened a port, or could not (and said so itself).
    void inputOpened() { m_input.opened(); }
    void inputOpenFailed() { m_input.openFailed(true); }
    void outputOpened() { m_output.opened(); }
    void outputOpenFailed() { m_output.openFailed(true); }

    // The poll chain found a port gone or refusing its line.
    void inputLost();
    void outputLost();

    // Both ports closed on purpose (About, settings window, the end).
    void stop();

signals:
    // A port's state changed: the window shows it.
    void changed();

private:
    void bringInputBack();
    void bringOutputBack();

    ZelvoFootswitch2 &m_window;
    PortSupervisor m_input;
    PortSupervisor m_output;
};
