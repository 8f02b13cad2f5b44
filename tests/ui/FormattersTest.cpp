#include "Formatters.h"

#include <QDateTime>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <limits>
#include <locale.h>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A fixed "now" well inside Timestamp's range.
const Timestamp now = Timestamp {} + std::chrono::seconds(1'741'100'000);

Timestamp fromQt(const QDateTime& dateTime)
{
    return Timestamp {} + std::chrono::milliseconds(dateTime.toMSecsSinceEpoch());
}

Timestamp localInstant(int year, int month, int day, int hour, int minute, const QTimeZone& zone)
{
    return fromQt(QDateTime(QDate(year, month, day), QTime(hour, minute), zone));
}

QTimeZone zone(const char* id)
{
    QTimeZone z { QByteArray(id) };
    EXPECT_TRUE(z.isValid()) << id << " is missing from the time-zone database";
    return z;
}

// printf itself under the "C" numeric locale, as the reference for the
// formats "%.1f" and "%.0f" that the display rules are written in.
std::string cPrintf(const char* format, double value)
{
    const locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = uselocale(c);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    uselocale(previous);
    freelocale(c);
    return buffer;
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// Sets the application's default locale for one scope.
class ScopedDefaultLocale {
public:
    explicit ScopedDefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~ScopedDefaultLocale() { QLocale::setDefault(m_old); }
    ScopedDefaultLocale(const ScopedDefaultLocale&) = delete;
    ScopedDefaultLocale& operator=(const ScopedDefaultLocale&) = delete;

private:
    QLocale m_old;
};

} // namespace

TEST(FormattersRelativePast, AgesAroundEachBoundary)
{
    struct Case {
        Timestamp::duration age;
        const char* text;
    };
    const Case cases[] = {
        { 0s, "just now" },
        { 10s, "just now" },
        { 44900ms, "just now" },
        { 45s - 1ns, "just now" },
        { 45s, "0m ago" }, // 45–59 s are the whole minutes truncated
        { 59s, "0m ago" },
        { 60s, "1m ago" },
        { 59min + 59s, "59m ago" },
        { 1h, "1h ago" },
        { 23h + 59min, "23h ago" },
        { 24h - 1ns, "23h ago" },
        { 24h, "1d ago" },
        { 25h, "1d ago" },
        { 24h * 400, "400d ago" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Formatters::relativePast(now - c.age, now), c.text)
            << std::chrono::duration_cast<std::chrono::milliseconds>(c.age).count() << " ms";
}

TEST(FormattersRelativePast, FutureDatesAreJustNow)
{
    EXPECT_EQ(Formatters::relativePast(now + 5s, now), "just now");
    EXPECT_EQ(Formatters::relativePast(now + 24h * 30, now), "just now");
}

TEST(FormattersRelativePast, OppositeEndsOfTheRangeDoNotWrap)
{
    // 585 years apart: more nanoseconds than 64 bits hold.
    const std::string past = Formatters::relativePast(Timestamp::min(), Timestamp::max());
    EXPECT_TRUE(past.ends_with("d ago")) << past;
    EXPECT_GE(std::stoll(past), 100'000); // at least the saturated ~292 years
    EXPECT_EQ(Formatters::relativePast(Timestamp::max(), Timestamp::min()), "just now");
}

TEST(FormattersCountdown, RemainingTimeAroundEachBoundary)
{
    struct Case {
        Timestamp::duration remaining;
        const char* text;
    };
    const Case cases[] = {
        { 0s, "<1m" },
        { 59s, "<1m" },
        { 60s - 1ns, "<1m" },
        { 60s, "1m" },
        { 90s, "1m" },
        { 59min + 59s, "59m" },
        { 1h, "1h" },
        { 23h + 59min, "23h" },
        { 24h, "1d" },
        { 47h, "1d" },
        { 48h, "2d" },
        { -10s, "<1m" },
        { -24h * 3, "<1m" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Formatters::countdown(now + c.remaining, now), c.text)
            << std::chrono::duration_cast<std::chrono::milliseconds>(c.remaining).count() << " ms";
}

TEST(FormattersCountdown, OppositeEndsOfTheRangeDoNotWrap)
{
    EXPECT_EQ(Formatters::countdown(Timestamp::min(), Timestamp::max()), "<1m");
    EXPECT_TRUE(Formatters::countdown(Timestamp::max(), Timestamp::min()).ends_with("d"));
}

TEST(FormattersCompactCount, SuffixesAndRounding)
{
    struct Case {
        std::int64_t value;
        const char* text;
    };
    const Case cases[] = {
        { 0, "0" },
        { 999, "999" },
        { -999, "-999" },
        { 1000, "1K" },
        { 1049, "1K" }, // 1.049 is written 1.0, whose ".0" goes
        { 1050, "1.1K" },
        { 12'345, "12.3K" },
        { 99'949, "99.9K" },
        { 99'950, "100K" }, // "%.1f" writes 99.95 as 100.0
        { 100'000, "100K" },
        { 150'000, "150K" },
        { 999'499, "999K" },
        { 999'999, "1000K" }, // whole units from 100 up: 999.999 rounds to 1000
        { 1'000'000, "1M" },
        { 1'260'000, "1.3M" },
        { 999'999'999, "1000M" },
        { 2'000'000'000, "2B" },
        { 123'456'789'012, "123B" },
        { -1500, "-1.5K" },
        { -2'000'000'000, "-2B" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Formatters::compactCount(c.value), c.text) << c.value;
}

TEST(FormattersCompactCount, ExtremesOfTheRange)
{
    EXPECT_EQ(Formatters::compactCount(std::numeric_limits<std::int64_t>::max()), "9223372037B");
    // The magnitude of the most negative count does not fit a signed 64-bit value.
    EXPECT_EQ(Formatters::compactCount(std::numeric_limits<std::int64_t>::min()), "-9223372037B");
}

TEST(FormattersCompactCount, OneDecimalMatchesPrintf)
{
    // Below 100 of a unit the text is "%.1f" minus a trailing ".0"; sweep
    // thousands and millions, ties included.
    for (std::int64_t value = 1000; value < 100'000; value += 7) {
        std::string expected = cPrintf("%.1f", static_cast<double>(value) / 1e3);
        if (expected.ends_with(".0"))
            expected.resize(expected.size() - 2);
        ASSERT_EQ(Formatters::compactCount(value), expected + "K") << value;
    }
    for (std::int64_t value = 1'000'000; value < 100'000'000; value += 49'999) {
        std::string expected = cPrintf("%.1f", static_cast<double>(value) / 1e6);
        if (expected.ends_with(".0"))
            expected.resize(expected.size() - 2);
        ASSERT_EQ(Formatters::compactCount(value), expected + "M") << value;
    }
}

TEST(FormattersPercent, SmallRatesKeepOneDecimal)
{
    struct Case {
        double fraction;
        const char* text;
    };
    const Case cases[] = {
        { 0.0, "0%" },
        { 0.05, "5.0%" },
        { 0.0004, "0.0%" },
        { 0.00049, "0.0%" },
        { 0.0006, "0.1%" },
        { 0.0999, "10.0%" }, // still below 10 %, so one decimal
        { 0.1, "10%" },
        { 0.256, "26%" },
        { 1.0, "100%" },
        { 1.5, "150%" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Formatters::percent(c.fraction), c.text) << c.fraction;
}

TEST(FormattersPercent, MatchesPrintfAcrossTheRange)
{
    for (int i = 0; i <= 20'000; ++i) {
        const double fraction = i / 10'000.0;
        const bool small = fraction > 0 && fraction < 0.1;
        const std::string expected = cPrintf(small ? "%.1f" : "%.0f", fraction * 100) + "%";
        ASSERT_EQ(Formatters::percent(fraction), expected) << fraction;
    }
}

TEST(FormattersPercent, NegativeAndUndefinedRates)
{
    EXPECT_EQ(Formatters::percent(-0.001), "0%"); // not "-0%"
    EXPECT_EQ(Formatters::percent(-0.5), "-50%");
    EXPECT_EQ(Formatters::percent(std::numeric_limits<double>::quiet_NaN()), "0%");
    EXPECT_EQ(Formatters::percent(std::numeric_limits<double>::infinity()), "0%");
}

TEST(FormattersDayLabel, MonthAbbreviationAndDayInTheGivenZone)
{
    for (const char* id : { "UTC", "America/Los_Angeles", "Asia/Tokyo", "Pacific/Kiritimati" }) {
        const QTimeZone z = zone(id);
        EXPECT_EQ(Formatters::dayLabel(localInstant(2025, 3, 4, 0, 0, z), z), "Mar 4") << id;
        EXPECT_EQ(Formatters::dayLabel(localInstant(2025, 3, 4, 23, 59, z), z), "Mar 4") << id;
    }
    // One instant, two calendar days.
    const Timestamp lateUTC = localInstant(2025, 3, 4, 23, 30, QTimeZone::utc());
    EXPECT_EQ(Formatters::dayLabel(lateUTC, QTimeZone::utc()), "Mar 4");
    EXPECT_EQ(Formatters::dayLabel(lateUTC, zone("Asia/Tokyo")), "Mar 5");
    EXPECT_EQ(Formatters::dayLabel(lateUTC, zone("America/Los_Angeles")), "Mar 4");
}

TEST(FormattersDayLabel, EveryMonthInEnglishWithoutLeadingZero)
{
    const char* months[]
        = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    for (int m = 1; m <= 12; ++m) {
        const int day = m < 10 ? m : 28;
        EXPECT_EQ(Formatters::dayLabel(localInstant(2024, m, day, 12, 0, QTimeZone::utc()), QTimeZone::utc()),
            std::string(months[m - 1]) + " " + std::to_string(day));
    }
}

TEST(FormattersDayLabel, EnglishWhateverTheUsersLanguage)
{
    const ScopedDefaultLocale german(QLocale(QLocale::German, QLocale::Germany));
    const Timestamp date = localInstant(2025, 3, 4, 12, 0, QTimeZone::utc());
    EXPECT_EQ(Formatters::dayLabel(date, QTimeZone::utc()), "Mar 4");
    EXPECT_EQ(
        Formatters::dayLabel(localInstant(2025, 5, 1, 12, 0, QTimeZone::utc()), QTimeZone::utc()), "May 1");
}

TEST(FormattersDayLabel, DefaultsToTheSystemZone)
{
    const ScopedEnv tz("TZ", "Asia/Tokyo");
    ASSERT_EQ(QTimeZone::systemTimeZoneId(), QByteArray("Asia/Tokyo"));
    // 23:30 UTC is already the next day in Tokyo.
    EXPECT_EQ(Formatters::dayLabel(localInstant(2025, 3, 4, 23, 30, QTimeZone::utc())), "Mar 5");
}

TEST(FormattersDateTime, MediumDateShortTimeInTheGivenLocaleAndZone)
{
    const Timestamp date = localInstant(2025, 3, 4, 14, 5, QTimeZone::utc());
    // Newer locale data puts a narrow no-break space before "PM"; take the
    // short time from the locale and check the date and the hour around it.
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const std::string afternoon = us.toString(QTime(14, 5), QLocale::ShortFormat).toStdString();
    const std::string evening = us.toString(QTime(23, 5), QLocale::ShortFormat).toStdString();
    ASSERT_TRUE(afternoon.starts_with("2:05") && afternoon.ends_with("PM")) << afternoon;
    ASSERT_TRUE(evening.starts_with("11:05") && evening.ends_with("PM")) << evening;
    EXPECT_EQ(Formatters::dateTime(date, us, QTimeZone::utc()), "Mar 4, 2025 " + afternoon);
    EXPECT_EQ(Formatters::dateTime(date, us, zone("Asia/Tokyo")), "Mar 4, 2025 " + evening);
    EXPECT_EQ(Formatters::dateTime(date, QLocale(QLocale::German, QLocale::Germany), QTimeZone::utc()),
        "4. M\u00E4rz 2025 14:05");
}

TEST(FormattersDateTime, DefaultsToTheUsersLocaleAndSystemZone)
{
    const ScopedDefaultLocale german(QLocale(QLocale::German, QLocale::Germany));
    const ScopedEnv tz("TZ", "Europe/Berlin");
    const Timestamp date = localInstant(2025, 3, 4, 14, 5, QTimeZone::utc());
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
        EXPECT_FALSE(weekday.match(unquoted).hasMatch())
            << locale.name().toStdString() << ": " << pattern.toStdString();
        EXPECT_FALSE(unquoted.contains(QStringLiteral("MMMM")))
            << locale.name().toStdString() << ": " << pattern.toStdString();
        EXPECT_FALSE(pattern.startsWith(u' ') || pattern.startsWith(u',') || pattern.endsWith(u' ')
            || pattern.endsWith(u','))
            << locale.name().toStdString() << ": '" << pattern.toStdString() << "'";
        const QString text = locale.toString(date, pattern);
        EXPECT_FALSE(text.contains(locale.dayName(date.dayOfWeek(), QLocale::LongFormat)))
            << locale.name().toStdString() << ": " << text.toStdString();
    }
}

TEST(FormattersDateTime, MediumPatternOfKnownLocales)
{
    EXPECT_EQ(Formatters::mediumDatePattern(QLocale(QLocale::English, QLocale::UnitedStates)), "MMM d, yyyy");
    EXPECT_EQ(Formatters::mediumDatePattern(QLocale(QLocale::German, QLocale::Germany)), "d. MMM yyyy");
    EXPECT_EQ(Formatters::mediumDatePattern(QLocale(QLocale::French, QLocale::France)), "d MMM yyyy");
    // Spanish quotes its "de" literals; the "d" inside them is no day.
    EXPECT_EQ(
        Formatters::mediumDatePattern(QLocale(QLocale::Spanish, QLocale::Spain)), "d 'de' MMM 'de' yyyy");
}
