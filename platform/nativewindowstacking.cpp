#include "platform/nativewindowstacking.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#elif QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include <vector>

namespace {

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    free(reply);
    return atom;
}

bool isMapped(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_get_window_attributes_reply_t *reply =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
    if (!reply)
        return false;
    const bool mapped = reply->map_state != XCB_MAP_STATE_UNMAPPED;
    free(reply);
    return mapped;
}

xcb_window_t rootOf(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_get_geometry_reply_t *reply = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    if (!reply)
        return XCB_WINDOW_NONE;
    const xcb_window_t root = reply->root;
    free(reply);
    return root;
}

// A window that is not mapped yet carries its wished-for states in its own
// _NET_WM_STATE property, which the window manager reads when it maps it.
void setStateProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t netWmState, xcb_atom_t above,
                      bool onTop)
{
    std::vector<xcb_atom_t> states;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, netWmState, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (reply) {
        if (reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
            const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            const int count = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
            for (int i = 0; i < count; ++i) {
                if (atoms[i] != above)
                    states.push_back(atoms[i]);
            }
        }
        free(reply);
    }
    if (onTop)
        states.push_back(above);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, netWmState, XCB_ATOM_ATOM, 32,
                        uint32_t(states.size()), states.data());
}

// A mapped window asks the window manager, which owns the property from then on.
void requestState(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t netWmState, xcb_atom_t above,
                  bool onTop)
{
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = netWmState;
    event.data.data32[0] = onTop ? 1 : 0; // _NET_WM_STATE_ADD or _NET_WM_STATE_REMOVE
    event.data.data32[1] = above;
    event.data.data32[2] = 0;
    event.data.data32[3] = 1; // source: an application
    xcb_send_event(connection, 0, rootOf(connection, window),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

} // namespace
#endif

void NativeWindowStacking::setAlwaysOnTop(QWidget *window, bool onTop)
{
    if (!window)
        return;
    const WId id = window->winId(); // creates the native window if need be
#ifdef Q_OS_WIN
    // NOMOVE and NOSIZE keep the window exactly where it is.
    SetWindowPos(reinterpret_cast<HWND>(id), onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
#else
#if QT_CONFIG(xcb)
    if (auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        // Not QWidget::setWindowFlag(Qt::WindowStaysOnTopHint): on X11 it hides the
        // window and creates a new one, which the user sees as a new activation.
        xcb_connection_t *connection = x11->connection();
        const auto xwindow = xcb_window_t(id);
        const xcb_atom_t netWmState = internAtom(connection, "_NET_WM_STATE");
        const xcb_atom_t above = internAtom(connection, "_NET_WM_STATE_ABOVE");
        if (netWmState == XCB_ATOM_NONE || above == XCB_ATOM_NONE)
            return;
        if (isMapped(connection, xwindow))
            requestState(connection, xwindow, netWmState, above, onTop);
        else
            setStateProperty(connection, xwindow, netWmState, above, onTop);
        xcb_flush(connection);
        return;
    }
#else
    Q_UNUSED(id);
#endif
    if (QWindow *handle = window->windowHandle())
        handle->setFlag(Qt::WindowStaysOnTopHint, onTop);
#endif
}
