#pragma once

#include <QSizeF>

#include <functional>

// How the dashboard asks its owner to act; it never reaches the application
// itself. An empty callback does nothing.
struct DashboardActions {
    std::function<void()> refresh;
    std::function<void()> openSettings;
    std::function<void()> openConsole;
    std::function<void()> quit;
    // The dashboard's measured size changed (points).
    std::function<void(QSizeF)> resize;
};
