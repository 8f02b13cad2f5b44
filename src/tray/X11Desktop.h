#pragma once

// What the X11 desktop offers, asked through Qt's X11 connection. Everything
// is false off X11 (Wayland, offscreen).
namespace X11Desktop {

// A compositing manager runs (_NET_WM_CM_S0 has an owner): windows can be
// translucent.
bool compositing();

} // namespace X11Desktop
