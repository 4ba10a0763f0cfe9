#include "platform/desktop/x11windowstate.h"

#include <QGuiApplication>
#include <QWidget>

#if QT_CONFIG(xcb)
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

// Rewrites the unmapped window's own list of states, keeping the others
// (Qt merges its own states into it when it maps the window).
void setStateProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t netWmState, xcb_atom_t state,
                      bool on)
{
    std::vector<xcb_atom_t> states;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, netWmState, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (reply) {
        if (reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
            const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            const int count = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
            for (int i = 0; i < count; ++i) {
                if (atoms[i] != state)
                    states.push_back(atoms[i]);
            }
        }
        free(reply);
    }
    if (on)
        states.push_back(state);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, netWmState, XCB_ATOM_ATOM, 32,
                        uint32_t(states.size()), states.data());
}

void requestState(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t netWmState, xcb_atom_t state, bool on)
{
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = netWmState;
    event.data.data32[0] = on ? 1 : 0; // _NET_WM_STATE_ADD or _NET_WM_STATE_REMOVE
    event.data.data32[1] = state;
    event.data.data32[2] = 0;
    event.data.data32[3] = 1; // source: an application
    xcb_send_event(connection, 0, rootOf(connection, window),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

} // namespace

bool setX11WindowState(QWidget *window, const char *stateAtom, bool on)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    // The offscreen platform offers the X11 interface even without an X
    // server, with no connection behind it.
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!window || !connection)
        return false;
    const auto xwindow = xcb_window_t(window->winId()); // creates the native window if need be
    const xcb_atom_t netWmState = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t state = internAtom(connection, stateAtom);
    if (netWmState != XCB_ATOM_NONE && state != XCB_ATOM_NONE) {
        if (isMapped(connection, xwindow))
            requestState(connection, xwindow, netWmState, state, on);
        else
            setStateProperty(connection, xwindow, netWmState, state, on);
        xcb_flush(connection);
    }
    return true;
}

#else

bool setX11WindowState(QWidget *, const char *, bool)
{
    return false;
}

#endif
