#pragma once

#include <QPainterPath>

#include <string_view>
#include <vector>

// A small, forgiving parser of SVG path data (the "d" attribute): M L H V C S
// Q T Z in both cases. It never fails: numbers that do not parse vanish,
// unsupported commands (the arc "A") are skipped with their numbers, and data
// that ends in the middle of a segment yields the path up to the last
// complete segment. Runs in time linear in the length of the text.
class SVGPathParser {
public:
    struct Token {
        enum class Kind { command, number };

        Kind kind = Kind::number;
        char letter = 0; // the command letter, for Kind::command
        double value = 0; // the number, for Kind::number

        static constexpr Token command(char c) { return { Kind::command, c, 0 }; }
        static constexpr Token number(double v) { return { Kind::number, 0, v }; }
        constexpr bool isCommand() const { return kind == Kind::command; }

        friend constexpr bool operator==(const Token&, const Token&) = default;
    };

    // Splits path data into command letters and numbers. "1-2" is two
    // numbers and "1e-5" one; "1.5.5" is 1.5 and 0.5; text between
    // separators that is not a finite decimal number is dropped.
    static std::vector<Token> tokenize(std::string_view text);

    // Builds the path, filled with the nonzero winding rule as SVG's default.
    static QPainterPath parse(std::string_view text);
};
