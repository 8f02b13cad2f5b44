#pragma once

// What the X11 desktop offers, asked through Qt's X11 connection. Everything
// is false off X11 (Wayland, offscreen).
namespace X11Desktop {

// A compositing manager runs (_NET_WM_CM_S0 has an owner): windows can be
// translucent.
bool compositing();

// Keeps a window that is not mapped yet out of taskbars and pagers
// (_NET_WM_STATE_SKIP_TASKBAR and _SKIP_PAGER; Qt keeps states it finds
// there when it maps the window).
void skipTaskbar(unsigned long window);

} // namespace X11Desktop
