#pragma once

#include <QString>

#include <string>
#include <string_view>

// Text from outside the program (server bodies, the identity provider's error
// fields, anything a web page can put on the loopback port) made safe to show
// or log: invalid UTF-8 becomes U+FFFD and control characters go, so nothing
// can move a terminal's cursor, set its title or forge a log line.
namespace SafeText {

enum class Lines {
    single, // every control character goes, line breaks included
    multi,  // tab and line feed stay
};

std::string clean(std::string_view raw, Lines lines = Lines::single);
QString clean(const QString& raw, Lines lines = Lines::single);

} // namespace SafeText
