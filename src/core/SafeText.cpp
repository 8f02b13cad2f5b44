#include "SafeText.h"

namespace SafeText {

QString clean(const QString& raw, Lines lines)
{
    QString out;
    out.reserve(raw.size());
    for (const QChar c : raw) {
        const char16_t u = c.unicode();
        if (lines == Lines::multi && (u == u'\t' || u == u'\n')) {
            out.append(c);
            continue;
        }
        // C0, DEL and C1 controls; C1 includes the 8-bit CSI and OSC.
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            continue;
        // Bidirectional overrides and isolates can make a line read as
        // something else than it holds.
        if ((u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069))
            continue;
        out.append(c);
    }
    return out;
}

std::string clean(std::string_view raw, Lines lines)
{
    // fromUtf8 replaces every invalid sequence with U+FFFD.
    return clean(QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size())), lines).toStdString();
}

} // namespace SafeText
