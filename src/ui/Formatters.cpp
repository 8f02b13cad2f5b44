#include "Formatters.h"

#include <QDateTime>

#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>

namespace {

constexpr std::int64_t nanosPerSecond = 1'000'000'000;
constexpr std::int64_t nanosPerMinute = 60 * nanosPerSecond;
constexpr std::int64_t nanosPerHour = 3600 * nanosPerSecond;
constexpr std::int64_t nanosPerDay = 86'400 * nanosPerSecond;

// later − earlier in nanoseconds. Instants at opposite ends of Timestamp's
// range lie further apart than 64 bits of nanoseconds hold, so the
// difference saturates instead of wrapping into the wrong sign.
std::int64_t nanosBetween(Timestamp earlier, Timestamp later)
{
    using std::chrono::nanoseconds;
    const std::int64_t a = std::chrono::duration_cast<nanoseconds>(later.time_since_epoch()).count();
    const std::int64_t b = std::chrono::duration_cast<nanoseconds>(earlier.time_since_epoch()).count();
    std::int64_t out = 0;
    if (__builtin_sub_overflow(a, b, &out))
        return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return out;
}

// printf's "%.<precision>f" without the C library's locale: Qt switches the
// process to the user's locale, where printf would write "1,5".
std::string fixed(double value, int precision)
{
    char buffer[400]; // the longest double in fixed notation is 309 digits
    const auto [end, error]
        = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (error != std::errc {})
        return {};
    return std::string(buffer, end);
}

// x ≥ 1: whole from 100 up (halves away from zero), else one decimal with a
// trailing ".0" dropped.
std::string trimmed(double x)
{
    if (x >= 100.0)
        return std::to_string(static_cast<std::int64_t>(std::round(x)));
    std::string text = fixed(x, 1);
    if (text.ends_with(".0"))
        text.resize(text.size() - 2);
    return text;
}

QDateTime toDateTime(Timestamp date, const QTimeZone& zone)
{
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(date.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, zone.isValid() ? zone : QTimeZone::utc());
}

// Whether `c` only separates a weekday from the rest of a date pattern.
bool isSeparator(QChar c)
{
    return c == u' ' || c == u',' || c == QChar(0x060C) /* Arabic comma */;
}

} // namespace

namespace Formatters {

std::string relativePast(Timestamp date, Timestamp now)
{
    const std::int64_t e = nanosBetween(date, now);
    if (e < 45 * nanosPerSecond)
        return "just now";
    if (e < nanosPerHour)
        return std::to_string(e / nanosPerMinute) + "m ago";
    if (e < nanosPerDay)
        return std::to_string(e / nanosPerHour) + "h ago";
    return std::to_string(e / nanosPerDay) + "d ago";
}

std::string countdown(Timestamp to, Timestamp now)
{
    const std::int64_t r = nanosBetween(now, to);
    if (r < nanosPerMinute)
        return "<1m";
    if (r < nanosPerHour)
        return std::to_string(r / nanosPerMinute) + "m";
    if (r < nanosPerDay)
        return std::to_string(r / nanosPerHour) + "h";
    return std::to_string(r / nanosPerDay) + "d";
}

std::string compactCount(std::int64_t value)
{
    // The magnitude of INT64_MIN only fits unsigned.
    const std::uint64_t m
        = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const std::string sign = value < 0 ? "-" : "";
    const double d = static_cast<double>(m);
    if (m >= 1'000'000'000)
        return sign + trimmed(d / 1e9) + "B";
    if (m >= 1'000'000)
        return sign + trimmed(d / 1e6) + "M";
    if (m >= 1000)
        return sign + trimmed(d / 1e3) + "K";
    return sign + std::to_string(m);
}

std::string percent(double fraction)
{
    // An undefined or infinite rate has nothing sensible to show.
    if (!std::isfinite(fraction))
        return "0%";
    const double p = fraction * 100.0;
    std::string text = fixed(p, fraction > 0 && fraction < 0.1 ? 1 : 0);
    // A tiny negative rate would otherwise read "-0%".
    if (text == "-0")
        text = "0";
    return text + "%";
}

std::string dayLabel(Timestamp date)
{
    return dayLabel(date, QTimeZone::systemTimeZone());
}

std::string dayLabel(Timestamp date, const QTimeZone& zone)
{
    // Qt's C locale has the English month names and never changes with the
    // user's settings.
    static const QLocale posix = QLocale::c();
    return posix.toString(toDateTime(date, zone), u"MMM d").toStdString();
}

std::string dateTime(Timestamp date)
{
    return dateTime(date, QLocale(), QTimeZone::systemTimeZone());
}

std::string dateTime(Timestamp date, const QLocale& locale, const QTimeZone& zone)
{
    const QString pattern = mediumDatePattern(locale) + u' ' + locale.timeFormat(QLocale::ShortFormat);
    return locale.toString(toDateTime(date, zone), pattern).toStdString();
}

QString mediumDatePattern(const QLocale& locale)
{
    const QString longPattern = locale.dateFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false; // inside a 'literal'
    qsizetype i = 0;
    while (i < longPattern.size()) {
        const QChar c = longPattern[i];
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
            ++i;
            continue;
        }
        if (quoted || (c != u'd' && c != u'M')) {
            out += c;
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (i + run < longPattern.size() && longPattern[i + run] == c)
            ++run;
        i += run;
        if (c == u'd' && run >= 3) {
            // The weekday goes, with the separators that follow it.
            while (i < longPattern.size() && isSeparator(longPattern[i]))
                ++i;
        } else if (c == u'M' && run >= 4) {
            out += u"MMM";
        } else {
            out += QString(run, c);
        }
    }
    // A weekday at the end leaves its leading separators behind.
    while (!out.isEmpty() && isSeparator(out.back()))
        out.chop(1);
    while (!out.isEmpty() && isSeparator(out.front()))
        out.remove(0, 1);
    return out.isEmpty() ? locale.dateFormat(QLocale::ShortFormat) : out;
}

} // namespace Formatters
