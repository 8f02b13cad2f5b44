#include "Credential.h"

#include <QString>
#include <QTextBoundaryFinder>

#include <vector>

bool Credential::canRefresh() const
{
    return refreshToken && !refreshToken->empty() && clientID && !clientID->empty();
}

bool Credential::isExpired(Timestamp now) const
{
    return expiresAt && *expiresAt <= now + expiryMargin;
}

std::string Credential::mask(std::string_view text)
{
    const QString string = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // Grapheme boundaries, so that a combined character is never cut in half.
    std::vector<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, string);
    for (qsizetype at = finder.toNextBoundary(); at != -1; at = finder.toNextBoundary())
        boundaries.push_back(at);
    const auto count = boundaries.size();
    if (count < 13) {
        std::string bullets;
        for (std::size_t i = 0; i < std::max<std::size_t>(count, 4); ++i)
            bullets += "\u2022";
        return bullets;
    }
    const QString head = string.left(boundaries[3]);
    const QString tail = string.mid(boundaries[count - 5]);
    return (head + QChar(0x2026) + tail).toStdString();
}
