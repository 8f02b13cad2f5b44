#include "IdentityProvider.h"

#include <QtGlobal>

namespace IdentityProvider {

QUrl baseURL()
{
    const QString override = qEnvironmentVariable("VELMO_AUTH_URL").trimmed();
    if (!override.isEmpty()) {
        const QUrl url(override, QUrl::StrictMode);
        if (url.isValid() && !url.isRelative() && !url.host().isEmpty())
            return url;
    }
    return QUrl(QString::fromLatin1(productionBaseURL));
}

QUrl appending(const QUrl& base, const QString& component)
{
    QUrl url = base;
    QString path = url.path();
    while (path.endsWith('/'))
        path.chop(1);
    url.setPath(path + '/' + component);
    return url;
}

} // namespace IdentityProvider
