#include "platform/desktop/nativetaskbarpresence.h"

#include "platform/desktop/x11windowstate.h"

#include <QWidget>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

NativeTaskbarPresence::NativeTaskbarPresence() = default;

NativeTaskbarPresence::~NativeTaskbarPresence() = default;

void NativeTaskbarPresence::skipTaskbar(QWidget *window)
{
    if (!window)
        return;
#ifdef Q_OS_WIN
    // An owned window gets no task bar button unless it asks for one.
    if (!m_hiddenOwner) {
        m_hiddenOwner = std::make_unique<QWindow>();
        m_hiddenOwner->create();
    }
    const auto hwnd = reinterpret_cast<HWND>(window->winId());
    SetWindowLongPtrW(hwnd, GWLP_HWNDPARENT, static_cast<LONG_PTR>(m_hiddenOwner->winId()));
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & ~LONG_PTR(WS_EX_APPWINDOW));
#else
    setX11WindowState(window, "_NET_WM_STATE_SKIP_TASKBAR", true);
#endif
}
