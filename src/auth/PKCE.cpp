#include "PKCE.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace PKCE {

QString randomBase64URL(int bytes)
{
    QByteArray data(bytes > 0 ? bytes : 0, Qt::Uninitialized);
    // QRandomGenerator::system() is the kernel's CSPRNG (getrandom); Qt
    // aborts rather than hand out weak bytes, so there is no failure to handle.
    for (char& byte : data)
        byte = static_cast<char>(QRandomGenerator::system()->bounded(256u));
    return base64URL(data);
}

QString base64URL(const QByteArray& data)
{
    return QString::fromLatin1(data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString challenge(const QString& verifier)
{
    return base64URL(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

} // namespace PKCE
