// What a browser, or any web page, sends to the sign-in callback port: the
// first chunk of the request, decoded as the server decodes it.
#include "LoopbackServer.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray request(reinterpret_cast<const char*>(data),
        qsizetype(std::min<std::size_t>(size, LoopbackServer::maxRequestBytes)));
    static const QString state = QStringLiteral("st4te-XYZ_123");
    const LoopbackServer::Answer answer = LoopbackServer::handle(QString::fromUtf8(request), state);
    if (answer.status.isEmpty() || answer.body.isEmpty())
        FuzzSupport::fail("an answer without status or page");
    if (answer.result && answer.result->index() == 0 && !answer.status.startsWith("200"))
        FuzzSupport::fail("a code handed over with a failure page");
    const QByteArray bytes = LoopbackServer::responseBytes(answer);
    if (!bytes.startsWith("HTTP/1.1 "))
        FuzzSupport::fail("a response without a status line");
    return 0;
}
