#pragma once

#include "platform/desktop/taskbarpresence.h"

#include <memory>

class QWindow;

// The EWMH _NET_WM_STATE_SKIP_TASKBAR state on X11; on Windows a hidden
// owner window, which keeps an owned window's button off the task bar.
// Elsewhere the window stays in the task bar.
class NativeTaskbarPresence : public TaskbarPresence
{
public:
    NativeTaskbarPresence();
    ~NativeTaskbarPresence() override;

    void skipTaskbar(QWidget *window) override;

private:
    std::unique_ptr<QWindow> m_hiddenOwner; // Windows only
};
