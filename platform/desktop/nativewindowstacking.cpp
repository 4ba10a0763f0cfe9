#include "platform/desktop/nativewindowstacking.h"

#include "platform/desktop/x11windowstate.h"

#include <QWidget>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

void NativeWindowStacking::setAlwaysOnTop(QWidget *window, bool onTop)
{
    if (!window)
        return;
#ifdef Q_OS_WIN
    // NOMOVE and NOSIZE keep the window exactly where it is.
    SetWindowPos(reinterpret_cast<HWND>(window->winId()), onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
#else
    // Not QWidget::setWindowFlag(Qt::WindowStaysOnTopHint): on X11 it hides the
    // window and creates a new one, which the user sees as a new activation.
    if (setX11WindowState(window, "_NET_WM_STATE_ABOVE", onTop))
        return;
    window->winId();
    if (QWindow *handle = window->windowHandle())
        handle->setFlag(Qt::WindowStaysOnTopHint, onTop);
#endif
}
