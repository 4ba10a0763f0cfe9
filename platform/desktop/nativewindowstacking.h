#pragma once

#include "platform/desktop/windowstacking.h"

// Topmost state through the platform's own window manager protocol: the EWMH
// _NET_WM_STATE_ABOVE state on X11, SetWindowPos on Windows, the window flag
// elsewhere.
class NativeWindowStacking : public WindowStacking
{
public:
    void setAlwaysOnTop(QWidget *window, bool onTop) override;
};
