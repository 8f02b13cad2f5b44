#include "SVGPathParser.h"

#include <QPointF>

#include <charconv>
#include <cmath>
#include <optional>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Reads a decimal number: optional sign, digits with an optional decimal
// point, optional exponent. Anything else - and a value too large for a
// double - is no number. Values too small for a double read as zero.
std::optional<double> parseNumber(std::string_view s)
{
    const std::size_t n = s.size();
    std::size_t i = 0;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    const std::size_t intBegin = i;
    while (i < n && isDigit(s[i]))
        ++i;
    const std::size_t intDigits = i - intBegin;
    std::size_t fracBegin = i;
    std::size_t fracDigits = 0;
    if (i < n && s[i] == '.') {
        fracBegin = ++i;
        while (i < n && isDigit(s[i]))
            ++i;
        fracDigits = i - fracBegin;
    }
    if (intDigits + fracDigits == 0)
        return std::nullopt;
    long long exponent = 0;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            negativeExponent = s[i++] == '-';
        const std::size_t expBegin = i;
        while (i < n && isDigit(s[i])) {
            // Saturate: only the order of magnitude matters past this point.
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (s[i] - '0');
            ++i;
        }
        if (i == expBegin)
            return std::nullopt;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != n)
        return std::nullopt;

    // from_chars takes "-" but not "+".
    const char* first = s.data() + (s[0] == '+' ? 1 : 0);
    const char* last = s.data() + n;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc() && ptr == last)
        return std::isfinite(value) ? std::optional(value) : std::nullopt;
    if (ec != std::errc::result_out_of_range)
        return std::nullopt;

    // Out of range: tell underflow (reads as zero) from overflow (no number)
    // by the decimal position of the first significant digit.
    long long lead = 0;
    std::size_t k = intBegin;
    while (k < intBegin + intDigits && s[k] == '0')
        ++k;
    if (k < intBegin + intDigits) {
        lead = static_cast<long long>(intBegin + intDigits - k);
    } else {
        std::size_t j = fracBegin;
        while (j < fracBegin + fracDigits && s[j] == '0')
            ++j;
        lead = -static_cast<long long>(j - fracBegin);
    }
    if (lead + exponent > 0)
        return std::nullopt;
    return negative ? -0.0 : 0.0;
}

// Qt's own bound for path coordinates; beyond it the rasterizer misbehaves.
constexpr double maxCoordinate = 1e128;

bool isUsable(QPointF p)
{
    return std::isfinite(p.x()) && std::isfinite(p.y()) && std::abs(p.x()) < maxCoordinate
        && std::abs(p.y()) < maxCoordinate;
}

// How many numbers one segment of a command takes; 0 for commands that take
// none or that we do not draw (Z, the arc A, anything unknown).
int arity(char command)
{
    switch (command) {
    case 'M':
    case 'm':
    case 'L':
    case 'l':
    case 'T':
    case 't':
        return 2;
    case 'H':
    case 'h':
    case 'V':
    case 'v':
        return 1;
    case 'S':
    case 's':
    case 'Q':
    case 'q':
        return 4;
    case 'C':
    case 'c':
        return 6;
    default:
        return 0;
    }
}

// Applies commands to a path; one instance per parse.
class PathBuilder {
public:
    QPainterPath path;

    void close()
    {
        path.closeSubpath();
        m_current = m_start;
        m_lastCubic.reset();
        m_lastQuad.reset();
        m_afterClose = true;
    }

    // Draws one segment of `command` from `a` (arity(command) numbers).
    // False when the segment leaves the usable coordinate range: the path
    // ends there.
    bool segment(char command, const double* a)
    {
        const bool relative = command >= 'a' && command <= 'z';
        const QPointF origin = relative ? m_current : QPointF();
        const auto point = [&](int k) { return origin + QPointF(a[k], a[k + 1]); };

        switch (command) {
        case 'M':
        case 'm': {
            const QPointF p = point(0);
            if (!isUsable(p))
                return false;
            path.moveTo(p);
            m_current = m_start = p;
            m_afterClose = false;
            m_lastCubic.reset();
            m_lastQuad.reset();
            return true;
        }
        case 'L':
        case 'l':
            return lineTo(point(0));
        case 'H':
        case 'h':
            return lineTo(QPointF(origin.x() + a[0], m_current.y()));
        case 'V':
        case 'v':
            return lineTo(QPointF(m_current.x(), origin.y() + a[0]));
        case 'C':
        case 'c':
            return cubicTo(point(0), point(2), point(4));
        case 'S':
        case 's': {
            const QPointF c1 = m_lastCubic ? 2 * m_current - *m_lastCubic : m_current;
            return cubicTo(c1, point(0), point(2));
        }
        case 'Q':
        case 'q':
            return quadTo(point(0), point(2));
        case 'T':
        case 't': {
            const QPointF c = m_lastQuad ? 2 * m_current - *m_lastQuad : m_current;
            return quadTo(c, point(0));
        }
        default:
            return true;
        }
    }

private:
    // After "Z" the next segment starts at the subpath start; say so
    // explicitly rather than rely on QPainterPath's implicit move.
    void beginSegment()
    {
        if (m_afterClose) {
            path.moveTo(m_start);
            m_afterClose = false;
        }
    }

    bool lineTo(QPointF p)
    {
        if (!isUsable(p))
            return false;
        beginSegment();
        path.lineTo(p);
        m_current = p;
        m_lastCubic.reset();
        m_lastQuad.reset();
        return true;
    }

    bool cubicTo(QPointF c1, QPointF c2, QPointF end)
    {
        if (!isUsable(c1) || !isUsable(c2) || !isUsable(end))
            return false;
        beginSegment();
        path.cubicTo(c1, c2, end);
        m_current = end;
        m_lastCubic = c2;
        m_lastQuad.reset();
        return true;
    }

    bool quadTo(QPointF c, QPointF end)
    {
        if (!isUsable(c) || !isUsable(end))
            return false;
        beginSegment();
        path.quadTo(c, end);
        m_current = end;
        m_lastQuad = c;
        m_lastCubic.reset();
        return true;
    }

    QPointF m_current;
    QPointF m_start;
    std::optional<QPointF> m_lastCubic;
    std::optional<QPointF> m_lastQuad;
    bool m_afterClose = false;
};

} // namespace

std::vector<SVGPathParser::Token> SVGPathParser::tokenize(std::string_view text)
{
    std::vector<Token> tokens;
    // The number buffer is always a contiguous run of the text: every
    // character that is not appended to it flushes it. Tracking its "." and
    // "e" as flags keeps the scan linear.
    std::size_t bufferBegin = 0;
    std::size_t bufferSize = 0;
    bool bufferHasDot = false;
    bool bufferHasE = false;

    const auto flush = [&] {
        if (bufferSize > 0) {
            if (const auto value = parseNumber(text.substr(bufferBegin, bufferSize)))
                tokens.push_back(Token::number(*value));
        }
        bufferSize = 0;
        bufferHasDot = false;
        bufferHasE = false;
    };
    const auto startBuffer = [&](std::size_t at) {
        flush();
        bufferBegin = at;
        bufferSize = 1;
        bufferHasDot = text[at] == '.';
    };
    const auto append = [&](std::size_t at) {
        if (bufferSize == 0)
            bufferBegin = at;
        ++bufferSize;
        bufferHasDot = bufferHasDot || text[at] == '.';
        bufferHasE = bufferHasE || text[at] == 'e' || text[at] == 'E';
    };

    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == 'e' || c == 'E') {
            append(i);
        } else if (isLetter(c)) {
            flush();
            tokens.push_back(Token::command(c));
        } else if (c == '-') {
            const char lastChar = bufferSize > 0 ? text[bufferBegin + bufferSize - 1] : 0;
            if (bufferSize > 0 && lastChar != 'e' && lastChar != 'E')
                startBuffer(i);
            else
                append(i);
        } else if (c == '.') {
            if (bufferHasDot && !bufferHasE)
                startBuffer(i);
            else
                append(i);
        } else if (c == ',' || isSpace(c)) {
            flush();
        } else {
            append(i);
        }
    }
    flush();
    return tokens;
}

QPainterPath SVGPathParser::parse(std::string_view text)
{
    const std::vector<Token> tokens = tokenize(text);
    PathBuilder builder;
    builder.path.setFillRule(Qt::WindingFill);

    char command = 'M'; // numbers before any letter are a moveto
    std::size_t i = 0;
    while (i < tokens.size()) {
        if (tokens[i].isCommand()) {
            command = tokens[i].letter;
            ++i;
            if (command == 'Z' || command == 'z')
                builder.close();
            continue;
        }
        const int count = arity(command);
        if (count == 0) {
            ++i; // unsupported: skip numbers until the next letter
            continue;
        }
        if (tokens.size() - i < static_cast<std::size_t>(count))
            break; // truncated segment
        double numbers[6];
        for (int k = 0; k < count; ++k) {
            if (tokens[i + k].isCommand())
                return builder.path; // a letter before the segment is complete
            numbers[k] = tokens[i + k].value;
        }
        i += count;
        if (!builder.segment(command, numbers))
            break;
        // Further pairs after a moveto are lines.
        if (command == 'M')
            command = 'L';
        else if (command == 'm')
            command = 'l';
    }
    return builder.path;
}
