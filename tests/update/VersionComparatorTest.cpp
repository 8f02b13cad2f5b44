#include "VersionComparator.h"

#include <QString>

#include <gtest/gtest.h>

namespace {

struct Pair { const char* older; const char* newer; };

void PrintTo(const Pair& pair, std::ostream* out)
{
    *out << pair.older << " < " << pair.newer;
}

class VersionComparatorOrder : public ::testing::TestWithParam<Pair> { };

// Orderings published with the widely used appcast comparator, each checked
// both ways round.
TEST_P(VersionComparatorOrder, OlderSortsBelowNewer)
{
    const auto [older, newer] = GetParam(); // printed with the test's name
    EXPECT_LT(VersionComparator::compare(QString::fromUtf8(older), QString::fromUtf8(newer)), 0);
    EXPECT_GT(VersionComparator::compare(QString::fromUtf8(newer), QString::fromUtf8(older)), 0);
}

INSTANTIATE_TEST_SUITE_P(Published, VersionComparatorOrder,
    ::testing::Values(Pair { "1.0", "1.1" }, Pair { "1.1", "2.0" }, Pair { "0.0.1", "0.1" },
        Pair { "0.1", "0.1.2" }, Pair { "1.0", "1.0.1" }, Pair { "1.9", "1.10" },
        Pair { "1.1.0b1", "1.1.0b2" }, Pair { "1.1.1b2", "1.1.2b1" }, Pair { "1.1.1b2", "1.1.2a1" },
        Pair { "1.0a1", "1.0b1" }, Pair { "1.0a1", "1.0" }, Pair { "1.0b1", "1.0" }, Pair { "0.9", "1.0a1" },
        Pair { "1.0b", "1.0b2" }, Pair { "1.0b10", "1.0b11" }, Pair { "1.0b9", "1.0b10" },
        Pair { "1.0rc", "1.0" }, Pair { "1.0b", "1.0" }, Pair { "1.0pre1", "1.0" },
        Pair { "1.0 (1234)", "1.0 (1235)" }, Pair { "1.0b1 (1234)", "1.0 (1234)" },
        Pair { "1.0b5 (1234)", "1.0b5 (1235)" }, Pair { "1.0b5 (1234)", "1.0.1b5 (1234)" },
        Pair { "1.0.1b5 (1234)", "1.0.1b6 (1234)" }, Pair { "2.0.0.2429", "2.0.0.2430" },
        Pair { "1.1.1.1818", "2.0.0.2430" }, Pair { "3.3 (5847)", "3.3.1b1 (5902)" },
        Pair { "201210251627", "201211051041" }, Pair { "99999999999999999998", "99999999999999999999" }));

} // namespace
