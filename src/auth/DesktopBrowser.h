#pragma once

#include <QUrl>

// The user's default browser (QDesktopServices, Qt Gui). Kept out of
// velmo_auth so the sign-in logic builds and tests without Qt Gui; the
// application hands it to LoginController as its BrowserOpener.
namespace DesktopBrowser {

// Asks the desktop to open `url`; false when it refused.
bool open(const QUrl& url);

} // namespace DesktopBrowser
