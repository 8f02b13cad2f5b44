#include "UpdateSignature.h"

#include "UpdateError.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

namespace {

constexpr int publicKeyBytes = 32;
constexpr int signatureBytes = 64;

QByteArray decodeExactly(const QByteArray& base64, int bytes)
{
    const auto decoded
        = QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == bytes ? *decoded : QByteArray();
}

bool signatureMatches(const QByteArray& key, const QByteArray& signature, const uchar* data, size_t size)
{
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
            reinterpret_cast<const uchar*>(key.constData()), static_cast<size_t>(key.size())),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!pkey || !context)
        return false;
    // Ed25519 signs the message itself (no digest), in one pass.
    return EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) == 1
        && EVP_DigestVerify(context.get(), reinterpret_cast<const uchar*>(signature.constData()),
               static_cast<size_t>(signature.size()), data, size)
        == 1;
}

} // namespace

void UpdateSignature::verify(const QString& filePath, qint64 expectedLength,
    const QByteArray& signatureBase64, const QByteArray& publicKeyBase64)
{
    const QByteArray key = decodeExactly(publicKeyBase64, publicKeyBytes);
    const QByteArray signature = decodeExactly(signatureBase64, signatureBytes);
    QFile file(filePath);
    if (key.isEmpty() || signature.isEmpty() || !file.open(QIODevice::ReadOnly))
        throw UpdateError::improperlySigned();
    const qint64 size = file.size();
    if (expectedLength > 0 && size != expectedLength)
        throw UpdateError::improperlySigned();
    // Mapped, not read: an update can be large. An empty file cannot be
    // mapped; its signature is checked over no bytes.
    static const uchar nothing = 0;
    const uchar* data = size > 0 ? file.map(0, size) : &nothing;
    if (!data || !signatureMatches(key, signature, data, static_cast<size_t>(size)))
        throw UpdateError::improperlySigned();
}
