#include "VersionComparator.h"

#include <QList>

namespace {

enum class Kind { number, letters, period, space, punctuation };

Kind kindOf(QChar c)
{
    if (c == u'.')
        return Kind::period;
    if (c.isDigit())
        return Kind::number;
    if (c.isSpace())
        return Kind::space;
    if (c.isPunct())
        return Kind::punctuation;
    return Kind::letters;
}

struct Part {
    Kind kind;
    QStringView text;
};

QList<Part> split(QStringView version)
{
    QList<Part> parts;
    qsizetype start = 0;
    for (qsizetype i = 1; i <= version.size(); ++i) {
        const Kind kind = kindOf(version[start]);
        // Every period stands alone; other kinds run on.
        if (i == version.size() || kind == Kind::period || kindOf(version[i]) != kind) {
            parts.append({ kind, version.mid(start, i - start) });
            start = i;
        }
    }
    return parts;
}

// Digit runs of any length, without overflow: fewer significant digits is
// smaller, then digit by digit.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

int VersionComparator::compare(QStringView a, QStringView b)
{
    const QList<Part> left = split(a);
    const QList<Part> right = split(b);
    const qsizetype common = std::min(left.size(), right.size());
    for (qsizetype i = 0; i < common; ++i) {
        const Part& l = left[i];
        const Part& r = right[i];
        const bool lSeparator = l.kind != Kind::number && l.kind != Kind::letters;
        const bool rSeparator = r.kind != Kind::number && r.kind != Kind::letters;
        if (l.kind == r.kind || (lSeparator && rSeparator)) {
            int order = 0;
            if (l.kind == Kind::number)
                order = compareNumbers(l.text, r.text);
            else if (l.kind == Kind::letters)
                order = sign(l.text.compare(r.text));
            if (order != 0)
                return order;
            continue;
        }
        // A letter run loses to anything, and a number beats a separator.
        if (l.kind == Kind::letters)
            return -1;
        if (r.kind == Kind::letters)
            return 1;
        return l.kind == Kind::number ? 1 : -1;
    }
    if (left.size() == right.size())
        return 0;
    // The longer version goes on: newer unless it goes on with letters.
    const bool leftLonger = left.size() > right.size();
    const Kind next = (leftLonger ? left : right)[common].kind;
    const int longerWins = leftLonger ? 1 : -1;
    return next == Kind::letters ? -longerWins : longerWins;
}
