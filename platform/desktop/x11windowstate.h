#pragma once

class QWidget;

// Adds or removes one EWMH _NET_WM_STATE atom (_NET_WM_STATE_ABOVE,
// _NET_WM_STATE_SKIP_TASKBAR, ...) of a top-level window, without
// recreating the native window as a change of Qt's window flags would.
// Before the window is mapped the state goes into the window's own property,
// which the window manager reads when it maps it; once mapped, the window
// manager owns the property and takes a request instead.
// Returns false when the program does not run on X11.
bool setX11WindowState(QWidget *window, const char *stateAtom, bool on);
