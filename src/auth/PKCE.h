#pragma once

#include <QByteArray>
#include <QString>

// Proof Key for Code Exchange (RFC 7636, method S256) and the random texts of
// a sign-in.
namespace PKCE {

// `bytes` bytes from the system's secure random source, Base64url-encoded
// without padding (16 bytes give 22 characters, 32 give 43).
QString randomBase64URL(int bytes);

// Base64 (RFC 4648 §4) with "+" → "-", "/" → "_" and no "=" padding.
QString base64URL(const QByteArray& data);

// base64URL of the SHA-256 digest of the verifier's UTF-8 bytes.
QString challenge(const QString& verifier);

} // namespace PKCE
