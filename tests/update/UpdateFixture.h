#pragma once

#include "RawHTTPServer.h"

#include <QTest>

#include <openssl/evp.h>

#include <map>
#include <memory>

namespace velmo::test {

// An Ed25519 key pair made for the test run, signing the way appcast tools
// do (base64 of the raw signature and of the raw public key).
inline EVP_PKEY* testKey()
{
    static const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free);
    return key.get();
}
inline QByteArray testPublicKey()
{
    QByteArray raw(32, '\0');
    size_t size = 32;
    EVP_PKEY_get_raw_public_key(testKey(), reinterpret_cast<uchar*>(raw.data()), &size);
    return raw.toBase64();
}
inline QByteArray testSignature(const QByteArray& data)
{
    QByteArray signature(64, '\0');
    size_t size = 64;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, testKey());
    EVP_DigestSign(context.get(), reinterpret_cast<uchar*>(signature.data()), &size,
        reinterpret_cast<const uchar*>(data.constData()), static_cast<size_t>(data.size()));
    return signature.toBase64();
}

// A feed with the given <item> elements.
inline QByteArray appcast(const QString& items)
{
    return (
        R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
        + items + "</channel></rss>")
        .toUtf8();
}

// One item whose enclosure carries the version, a made-up url unless the
// attributes give one, and the attributes.
inline QString item(const QString& version, const QString& attributes = {}, const QString& children = {})
{
    const QString url = attributes.contains("url=") ? "" : "url=\"https://updates.example/" + version + '"';
    return QStringLiteral(
        R"(<item><title>Version %1</title>%3<enclosure %4 sparkle:version="%1" %2/></item>)")
        .arg(version, attributes, children, url);
}

// Answers each path with a fixed raw HTTP response on a real loopback socket
// (404 for unknown paths); a raw response may end early and close.
class UpdateServer {
public:
    void serve(const QByteArray& path, const QByteArray& body)
    {
        m_routes[path] = { rawResponse(200, "OK", body), false };
    }
    void serveRaw(const QByteArray& path, const QByteArray& response) { m_routes[path] = { response, true }; }
    QString url(const QByteArray& path) const { return m_server.url(QString::fromLatin1(path)).toString(); }
    int requests(const QByteArray& path) { return m_requests[path]; }

private:
    std::map<QByteArray, std::pair<QByteArray, bool>> m_routes; // response, close after it
    std::map<QByteArray, int> m_requests;
    RawHTTPServer m_server { [this](QTcpSocket& socket, const QByteArray& head) {
        const QByteArray path = head.split(' ').value(1);
        ++m_requests[path];
        const auto [response, close]
            = m_routes.contains(path) ? m_routes[path] : std::pair(rawResponse(404, "Not Found", ""), false);
        socket.write(response);
        if (close)
            socket.disconnectFromHost();
    } };
};

} // namespace velmo::test
