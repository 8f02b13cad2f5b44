#pragma once

#include "Timestamp.h"

#include <QLocale>
#include <QTimeZone>

#include <cstdint>
#include <string>

// The short English texts of the tray, the panel and the settings window:
// ages, countdowns, counts, percentages and day labels. Only dateTime follows
// the user's locale; everything else reads the same in every language and
// never depends on the C library's numeric locale. Money is formatted by
// MicrosUSD itself. Texts are UTF-8.
namespace Formatters {

// How long ago `date` was: "just now" under 45 s (and for any future date),
// then "12m ago", "3h ago", "2d ago", each truncated toward zero.
std::string relativePast(Timestamp date, Timestamp now);

// How long until `to`: "<1m" under a minute (and for any past instant), then
// "12m", "3h", "2d", each truncated toward zero.
std::string countdown(Timestamp to, Timestamp now);

// 999, "1K", "12.3K", "1.3M", "2B", "-1.5K": one decimal below 100 of a unit
// (".0" dropped), whole units from 100 up, so 999 999 reads "1000K".
std::string compactCount(std::int64_t value);

// 1.0 is "100%"; rates strictly between 0 and 10 % keep one decimal ("5.0%",
// "0.0%"), all others none ("26%"). A fraction that is not a number reads "0%".
std::string percent(double fraction);

// "Mar 4": English month abbreviation and day, in the system time zone.
std::string dayLabel(Timestamp date);
// The same in the given zone (an invalid zone counts as UTC).
std::string dayLabel(Timestamp date, const QTimeZone& zone);

// Medium date and short time in the user's locale and the system time zone,
// for example "Mar 4, 2025 2:05 PM" in American English.
std::string dateTime(Timestamp date);
// The same for the given locale and zone (an invalid zone counts as UTC).
std::string dateTime(Timestamp date, const QLocale& locale, const QTimeZone& zone);

// The locale's medium date pattern (Qt's date format syntax): its long
// pattern without the weekday and with the month abbreviated, so "dddd,
// MMMM d, yyyy" becomes "MMM d, yyyy". Qt has no medium style of its own.
QString mediumDatePattern(const QLocale& locale);

} // namespace Formatters
