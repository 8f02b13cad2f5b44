#include "X11Desktop.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace X11Desktop {

namespace {

xcb_connection_t* connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// XCB_NONE when the server does not know the name.
xcb_atom_t atom(xcb_connection_t* connection, const QByteArray& name, bool onlyIfExists)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection,
            xcb_intern_atom(connection, onlyIfExists, uint16_t(name.size()), name.constData()), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_NONE);
}

} // namespace

bool compositing()
{
    xcb_connection_t* x = connection();
    if (!x)
        return false;
    const xcb_atom_t selection = atom(x, "_NET_WM_CM_S0", true);
    if (selection == XCB_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(x, xcb_get_selection_owner(x, selection), nullptr), &std::free);
    return owner && owner->owner != XCB_NONE;
}

void skipTaskbar(unsigned long window)
{
    xcb_connection_t* x = connection();
    if (!x || !window)
        return;
    const xcb_atom_t states[] = { atom(x, "_NET_WM_STATE_SKIP_TASKBAR", false),
        atom(x, "_NET_WM_STATE_SKIP_PAGER", false) };
    xcb_change_property(x, XCB_PROP_MODE_APPEND, xcb_window_t(window), atom(x, "_NET_WM_STATE", false),
        XCB_ATOM_ATOM, 32, 2, states);
    xcb_flush(x);
}

} // namespace X11Desktop
