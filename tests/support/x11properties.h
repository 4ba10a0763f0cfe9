#pragma once

// Reading what the X server and the window manager hold about windows, for
// tests that run under tests/with-xserver.sh.
#include <QGuiApplication>
#include <QList>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace X11 {

inline xcb_connection_t *connection()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

inline xcb_atom_t atom(const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection(), xcb_intern_atom(connection(), 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return result;
}

// A property as 32-bit items; empty when the window does not carry it.
inline QList<quint32> windowProperty(xcb_window_t window, const char *name)
{
    QList<quint32> items;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection(), xcb_get_property(connection(), 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
        nullptr);
    if (reply && reply->format == 32) {
        const auto *values = static_cast<const quint32 *>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        for (int i = 0; i < count; ++i)
            items.append(values[i]);
    }
    free(reply);
    return items;
}

inline xcb_window_t rootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

} // namespace X11
