#pragma once

#include <QByteArray>
#include <QString>

// Checks a downloaded update against its feed entry: the exact length (when
// the feed gives one) and an Ed25519 signature over the whole file, as
// appcast signing tools make them (base64 of the 64-byte signature; the
// public key is base64 of the raw 32 bytes). Uses OpenSSL.
namespace UpdateSignature {

// Throws UpdateError::improperlySigned() on any mismatch, a missing or
// malformed signature or key, or a file that cannot be read.
void verify(const QString& filePath, qint64 expectedLength, const QByteArray& signatureBase64,
    const QByteArray& publicKeyBase64);

} // namespace UpdateSignature
