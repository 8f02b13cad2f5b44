#include "TokenText.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace TokenText {

std::string trimmed(std::string_view text)
{
    // QChar::isSpace covers the Unicode White_Space set (Zs, Zl, Zp, the
    // ASCII controls \t…\r and U+0085).
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed().toStdString();
}

bool isAPIKey(std::string_view accessToken)
{
    return trimmed(accessToken).starts_with("sk-");
}

bool hasControlCharacters(std::string_view text)
{
    const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return decoded.toUtf8() != QByteArrayView(text.data(), static_cast<qsizetype>(text.size()))
        || std::any_of(decoded.begin(), decoded.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

Timestamp fromMilliseconds(double milliseconds)
{
    using Duration = Timestamp::duration;
    using Millis = std::chrono::duration<double, std::milli>;
    const double lowest = std::chrono::duration_cast<Millis>(Duration::min()).count();
    const double highest = std::chrono::duration_cast<Millis>(Duration::max()).count();
    if (std::isnan(milliseconds))
        return Timestamp {};
    // A margin inside the ends: the double conversion rounds.
    if (milliseconds <= lowest * 0.999)
        return Timestamp(Duration::min());
    if (milliseconds >= highest * 0.999)
        return Timestamp(Duration::max());
    return Timestamp(std::chrono::duration_cast<Duration>(Millis(milliseconds)));
}

double toMilliseconds(Timestamp instant)
{
    return std::chrono::duration<double, std::milli>(instant.time_since_epoch()).count();
}

} // namespace TokenText
