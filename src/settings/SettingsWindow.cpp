#include "SettingsWindow.h"

#include "AppContainer.h"

#include <QQuickWindow>

// A blank window with the real title and size until the form exists.
SettingsWindow::SettingsWindow(AppContainer& container, QObject* parent)
    : QObject(parent)
    , m_container(container)
{
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::show()
{
    if (!m_window) {
        m_window = std::make_unique<QQuickWindow>();
        m_window->setTitle(tr("Velmo Usage Settings"));
        m_window->setFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
        m_window->setMinimumSize(QSize(440, 520));
        m_window->setMaximumSize(QSize(440, 520));
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

QQuickWindow* SettingsWindow::window() const
{
    return m_window.get();
}
