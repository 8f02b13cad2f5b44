#include "DesktopBrowser.h"

#include <QDesktopServices>

namespace DesktopBrowser {

bool open(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace DesktopBrowser
