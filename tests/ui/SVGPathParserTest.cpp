#include "SVGPathParser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using Token = SVGPathParser::Token;
using Tokens = std::vector<Token>;
using Steps = std::vector<std::string>;

Token cmd(char c) { return Token::command(c); }
Token num(double v) { return Token::number(v); }

std::string point(QPointF p)
{
    std::ostringstream out;
    out.precision(6);
    out << p.x() + 0.0 << ' ' << p.y() + 0.0; // no "-0"
    return out.str();
}

// The path as SVG-like steps: "M x y", "L x y", "C x1 y1 x2 y2 x y".
Steps steps(std::string_view data)
{
    const QPainterPath path = SVGPathParser::parse(data);
    Steps out;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo() || e.isLineTo() || e.isCurveTo())
            out.push_back((e.isMoveTo() ? "M " : e.isLineTo() ? "L " : "C ") + point(e));
        else if (!out.empty())
            out.back() += " " + point(e);
    }
    return out;
}

// QPainterPath keeps a quadratic curve as the equivalent cubic.
std::string quad(QPointF from, QPointF control, QPointF to)
{
    return "C " + point(from + 2.0 / 3.0 * (control - from)) + " " + point(to + 2.0 / 3.0 * (control - to)) + " "
        + point(to);
}

TEST(SVGPathParserTokenize, NumbersSignsExponentsAndWhatIsNoNumber)
{
    const std::string huge = "1" + std::string(400, '0');
    const std::pair<std::string, Tokens> cases[] = {
        { "M10-20L.5.5,1e-3 2E2z",
            { cmd('M'), num(10), num(-20), cmd('L'), num(0.5), num(0.5), num(0.001), num(200), cmd('z') } },
        { "1-2 1e-5 1E+2 +3 -.5-.5", { num(1), num(-2), num(1e-5), num(100), num(3), num(-0.5), num(-0.5) } },
        // A second point starts a new number, unless an exponent came first.
        { "1.5.5.25 1..2 1.5e2.5 7", { num(1.5), num(0.5), num(0.25), num(1), num(0.2), num(7) } },
        { "--5 2e-1-3", { num(-5), num(0.2), num(-3) } },
        { " 1,2\t3\n4\r\n5\f6\v7,,, 8 ", { num(1), num(2), num(3), num(4), num(5), num(6), num(7), num(8) } },
        { "1+2 3", { num(3) } },
        { "M . 4 - 5 e 3e 1e+ # 6", { cmd('M'), num(4), num(5), num(6) } },
        { "5\xc3\xa9 9", { num(9) } },
        // Never infinity nor NaN: spelled out they are letters, too large is
        // dropped, too small is zero, long digit runs count in the exponent.
        { "nan inf", { cmd('n'), cmd('a'), cmd('n'), cmd('i'), cmd('n'), cmd('f') } },
        { "1e999 -1e999 4 1e-999 -2e-400", { num(4), num(0), num(0) } },
        { huge + " 1 " + huge + "e-800", { num(1), num(0) } },
    };
    for (const auto& [text, tokens] : cases)
        EXPECT_EQ(SVGPathParser::tokenize(text), tokens) << text;
}

TEST(SVGPathParserParse, CommandsAndTheirSmoothReflections)
{
    const std::pair<const char*, Steps> cases[] = {
        // Moveto pairs after the first are lines; bare numbers move; moves collapse.
        { "M 0 0 10 10 20 0", { "M 0 0", "L 10 10", "L 20 0" } },
        { "m 1 1 2 2", { "M 1 1", "L 3 3" } },
        { "5 5 10 10", { "M 5 5", "L 10 10" } },
        { "M1 1 M2 2 m1 1", { "M 3 3" } },
        { "M10 10 l5 0 h5 v5 H0 V0 L1 2 3 4",
            { "M 10 10", "L 15 10", "L 20 10", "L 20 15", "L 0 15", "L 0 0", "L 1 2", "L 3 4" } },
        { "M1 1 h1 2 v1 2 l1 0 1 0", { "M 1 1", "L 2 1", "L 4 1", "L 4 2", "L 4 4", "L 5 4", "L 6 4" } },
        { "M1 1 c1 0 2 0 2 2 1 0 2 0 2 2", { "M 1 1", "C 2 1 3 1 3 3", "C 4 3 5 3 5 5" } },
        { "M0 0 C 0 10 10 10 10 0 s 10 -10 10 0 10 10 10 0",
            { "M 0 0", "C 0 10 10 10 10 0", "C 10 -10 20 -10 20 0", "C 20 10 30 10 30 0" } },
        // After a segment that is no cubic curve the first control is the current point.
        { "M0 0 L 5 5 S 10 10 20 0", { "M 0 0", "L 5 5", "C 5 5 10 10 20 0" } },
        { "M0 0 Q 5 5 10 0 S 15 5 20 0", { "M 0 0", quad({ 0, 0 }, { 5, 5 }, { 10, 0 }), "C 10 0 15 5 20 0" } },
        { "M0 0 C 1 1 2 2 3 3 M 5 5 S 6 6 7 7", { "M 0 0", "C 1 1 2 2 3 3", "M 5 5", "C 5 5 6 6 7 7" } },
        { "M0 0 q 5 10 10 0 t 10 0 10 0",
            { "M 0 0", quad({ 0, 0 }, { 5, 10 }, { 10, 0 }), quad({ 10, 0 }, { 15, -10 }, { 20, 0 }),
                quad({ 20, 0 }, { 25, 10 }, { 30, 0 }) } },
        { "M0 0 L 5 5 T 10 0", { "M 0 0", "L 5 5", quad({ 5, 5 }, { 5, 5 }, { 10, 0 }) } },
        { "M0 0 C 1 1 2 2 3 3 T 6 0", { "M 0 0", "C 1 1 2 2 3 3", quad({ 3, 3 }, { 3, 3 }, { 6, 0 }) } },
        // Close returns to the start, forgets control points, skips stray numbers.
        { "M5 5 l5 0 z l 0 5", { "M 5 5", "L 10 5", "L 5 5", "M 5 5", "L 5 10" } },
        { "M0 0 C 0 10 10 10 10 0 Z S 20 -10 20 0",
            { "M 0 0", "C 0 10 10 10 10 0", "L 0 0", "M 0 0", "C 0 0 20 -10 20 0" } },
        { "M0 0 L 10 0 Z 5 5 L 1 1", { "M 0 0", "L 10 0", "L 0 0", "M 0 0", "L 1 1" } },
        // A truncated segment ends the path; unsupported commands are skipped.
        { "M0 0 L 5 5 C 1 1 2 2 L 9 9", { "M 0 0", "L 5 5" } },
        { "1 2 3 4 5", { "M 1 2", "L 3 4" } },
        { "M0 0 a 5 5 0 0 1 10 10 X 1 2 3 l 1 1", { "M 0 0", "L 1 1" } },
        // Coordinates beyond Qt's range end the path (a reflected control too).
        { "M0 0 l 9e127 0 l 9e127 0 L 1 1", { "M 0 0", "L 9e+127 0" } },
        { "M0 0 C 0 0 -5e127 0 5e127 0 S 1 1 1 1", { "M 0 0", "C 0 0 -5e+127 0 5e+127 0" } },
    };
    for (const auto& [data, expected] : cases)
        EXPECT_EQ(steps(data), expected) << data;
    EXPECT_EQ(SVGPathParser::parse("M0 0 L1 0 L1 1 Z").fillRule(), Qt::WindingFill);
    // Text without a drawable segment gives an empty path.
    for (const char* text : { "", " ,\n\t, ", "MLHVCSQTZmlhvcsqtz", "nan", "1e999 1e999", "\xff\xfe", "-.e+", "M 1",
             "A 1 2 3", "M 1e300 0 L 1 1" })
        EXPECT_TRUE(SVGPathParser::parse(text).isEmpty()) << text;
}

} // namespace
