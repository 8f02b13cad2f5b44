#include "Formatters.h"

#include <QDateTime>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>

using namespace std::chrono_literals;

namespace {

// A fixed "now" well inside Timestamp's range.
const Timestamp now = Timestamp {} + std::chrono::seconds(1'741'100'000);

Timestamp localInstant(int year, int month, int day, int hour, int minute, const QTimeZone& zone)
{
    return Timestamp {} + std::chrono::milliseconds(QDateTime(QDate(year, month, day), QTime(hour, minute), zone).toMSecsSinceEpoch());
}

QTimeZone zone(const char* id)
{
    QTimeZone z { QByteArray(id) };
    EXPECT_TRUE(z.isValid()) << id << " is missing from the time-zone database";
    return z;
}

// Sets the system zone and the application's default locale for one scope.
struct ScopedZoneAndLocale {
    ScopedZoneAndLocale(const QByteArray& tz, const QLocale& locale) { qputenv("TZ", tz); QLocale::setDefault(locale); }
    ~ScopedZoneAndLocale()
    {
        if (!(oldTZ.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldTZ)))
            ADD_FAILURE() << "TZ not restored";
        QLocale::setDefault(oldLocale);
    }
    QByteArray oldTZ = qgetenv("TZ");
    QLocale oldLocale;
};

} // namespace

// Ages before "now" and time left after it, around each boundary.
TEST(FormattersRelativeTimes, AroundEachBoundary)
{
    const auto past = [](Timestamp::duration age) { return Formatters::relativePast(now - age, now); };
    const auto left = [](Timestamp::duration remaining) { return Formatters::countdown(now + remaining, now); };
    const std::tuple<std::string (*)(Timestamp::duration), Timestamp::duration, const char*> cases[] = {
        { past, -24h * 30, "just now" }, // the future
        { past, 45s - 1ns, "just now" },
        { past, 45s, "0m ago" }, // 45–59 s are the whole minutes truncated
        { past, 1h - 1ns, "59m ago" },
        { past, 1h, "1h ago" },
        { past, 24h - 1ns, "23h ago" },
        { past, 24h, "1d ago" },
        { past, 24h * 400, "400d ago" },
        { left, -24h * 3, "<1m" },
        { left, 60s - 1ns, "<1m" },
        { left, 60s, "1m" },
        { left, 120s - 1ns, "1m" },
        { left, 1h - 1ns, "59m" },
        { left, 1h, "1h" },
        { left, 24h - 1ns, "23h" },
        { left, 48h - 1ns, "1d" },
        { left, 48h, "2d" },
    };
    for (const auto& [format, duration, text] : cases)
        EXPECT_EQ(format(duration), text) << (duration / 1ms) << " ms";
    // 585 years apart: more nanoseconds than 64 bits hold.
    const std::string far = Formatters::relativePast(Timestamp::min(), Timestamp::max());
    EXPECT_TRUE(far.ends_with("d ago")) << far;
    EXPECT_GE(std::stoll(far), 100'000); // at least the saturated ~292 years
    EXPECT_EQ(Formatters::relativePast(Timestamp::max(), Timestamp::min()), "just now");
    EXPECT_EQ(Formatters::countdown(Timestamp::min(), Timestamp::max()), "<1m");
    EXPECT_TRUE(Formatters::countdown(Timestamp::max(), Timestamp::min()).ends_with("d"));
}

TEST(FormattersCompactCount, SuffixesAndRounding)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        { 999, "999" },
        { -999, "-999" },
        { 1000, "1K" },
        { 1049, "1K" }, // 1.049 is written 1.0, whose ".0" goes
        { 1050, "1.1K" }, // 1.05 lies just above the tie as a double
        { 1250, "1.2K" }, // an exact tie goes to even, as in printf
        { 99'949, "99.9K" },
        { 99'950, "100K" }, // "%.1f" writes 99.95 as 100.0
        { 999'499, "999K" },
        { 999'999, "1000K" }, // whole units from 100 up: 999.999 rounds to 1000
        { 1'260'000, "1.3M" },
        { 999'999'999, "1000M" },
        { 123'456'789'012, "123B" },
        { -1500, "-1.5K" },
        { std::numeric_limits<std::int64_t>::max(), "9223372037B" },
        // The magnitude of the most negative count does not fit a signed 64-bit value.
        { std::numeric_limits<std::int64_t>::min(), "-9223372037B" },
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(Formatters::compactCount(value), text) << value;
}

TEST(FormattersPercent, SmallRatesKeepOneDecimal)
{
    const std::pair<double, const char*> cases[] = {
        { 0.0, "0%" },
        { 0.0004, "0.0%" },
        { 0.0006, "0.1%" },
        { 0.0999, "10.0%" }, // still below 10 %, so one decimal
        { 0.1, "10%" },
        { 0.125, "12%" }, // an exact tie goes to even, as in printf
        { 1.5, "150%" },
        { -0.001, "0%" }, // not "-0%"
        { -0.5, "-50%" },
        { std::numeric_limits<double>::quiet_NaN(), "0%" },
        { std::numeric_limits<double>::infinity(), "0%" },
    };
    for (const auto& [fraction, text] : cases)
        EXPECT_EQ(Formatters::percent(fraction), text) << fraction;
}

TEST(FormattersDayLabel, EnglishMonthAndDayInTheGivenOrSystemZone)
{
    const QTimeZone tokyo = zone("Asia/Tokyo");
    EXPECT_EQ(Formatters::dayLabel(localInstant(2025, 3, 4, 0, 0, tokyo), tokyo), "Mar 4");
    EXPECT_EQ(Formatters::dayLabel(localInstant(2025, 3, 4, 23, 59, tokyo), tokyo), "Mar 4");
    // One instant, two calendar days.
    const Timestamp lateUTC = localInstant(2025, 3, 4, 23, 30, QTimeZone::utc());
    EXPECT_EQ(Formatters::dayLabel(lateUTC, QTimeZone::utc()), "Mar 4");
    EXPECT_EQ(Formatters::dayLabel(lateUTC, tokyo), "Mar 5");
    EXPECT_EQ(Formatters::dayLabel(lateUTC, zone("America/Los_Angeles")), "Mar 4");
    // The system zone by default; English whatever the user's language, no leading zero.
    const ScopedZoneAndLocale tokyoGerman("Asia/Tokyo", QLocale(QLocale::German, QLocale::Germany));
    ASSERT_EQ(QTimeZone::systemTimeZoneId(), QByteArray("Asia/Tokyo"));
    EXPECT_EQ(Formatters::dayLabel(lateUTC), "Mar 5");
}

TEST(FormattersDateTime, MediumDateShortTimeInTheGivenLocaleAndZone)
{
    const Timestamp date = localInstant(2025, 3, 4, 14, 5, QTimeZone::utc());
    // Newer locale data puts a narrow no-break space before "PM": the expected
    // short times come from the locale itself.
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const std::string afternoon = us.toString(QTime(14, 5), QLocale::ShortFormat).toStdString();
    const std::string evening = us.toString(QTime(23, 5), QLocale::ShortFormat).toStdString();
    EXPECT_EQ(Formatters::dateTime(date, us, QTimeZone::utc()), "Mar 4, 2025 " + afternoon);
    EXPECT_EQ(Formatters::dateTime(date, us, zone("Asia/Tokyo")), "Mar 4, 2025 " + evening);
    EXPECT_EQ(Formatters::dateTime(date, QLocale(QLocale::German, QLocale::Germany), QTimeZone::utc()),
        "4. M\u00E4rz 2025 14:05");
    // Spanish quotes its "de" literals; the "d" inside them is no day.
    EXPECT_EQ(Formatters::dateTime(date, QLocale(QLocale::Spanish, QLocale::Spain), QTimeZone::utc()),
        "4 de mar de 2025 14:05");
    // By default the user's locale and the system zone.
    const ScopedZoneAndLocale berlin("Europe/Berlin", QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(Formatters::dateTime(date), "4. M\u00E4rz 2025 15:05");
}

TEST(FormattersDateTime, MediumPatternDropsTheWeekdayInEveryLocale)
{
    // Every locale Qt knows: the medium pattern keeps day, month and year and
    // loses the weekday, with no separator left dangling at either end.
    const QDate date(2025, 3, 4);
    const QRegularExpression weekday(QStringLiteral("(^|[^d])d{3,4}([^d]|$)"));
    const auto locales
        = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    ASSERT_GT(locales.size(), 100);
    for (const QLocale& locale : locales) {
        const QString pattern = Formatters::mediumDatePattern(locale);
        ASSERT_FALSE(pattern.isEmpty()) << locale.name().toStdString();
        // Quoted literals hold no pattern letters; strip them before looking.
        QString unquoted = pattern;
        unquoted.remove(QRegularExpression(QStringLiteral("'[^']*'")));
        const QString text = locale.toString(date, pattern);
        const bool dangling = pattern.startsWith(u' ') || pattern.startsWith(u',') || pattern.endsWith(u' ')
            || pattern.endsWith(u',');
        EXPECT_FALSE(weekday.match(unquoted).hasMatch() || unquoted.contains(QStringLiteral("MMMM")) || dangling
            || text.contains(locale.dayName(date.dayOfWeek(), QLocale::LongFormat)))
            << locale.name().toStdString() << ": '" << pattern.toStdString() << "'";
    }
}
