#pragma once

#include <QStringView>

// Orders version texts the way appcast publishers expect: "1.0a1" < "1.0b1"
// < "1.0" < "1.0.1" < "1.1" < "1.10", "2.0 (1234)" < "2.0 (1235)".
//
// A version is cut into parts: runs of digits, runs of other letters, runs
// of white space, runs of punctuation, and single periods. Parts are compared
// in turn: numbers by value, letter runs by their characters, separators as
// equal. A number beats a letter run and a separator; a letter run (a
// pre-release tag) loses to everything. When one version runs out, the
// longer one is newer unless its next part is a letter run ("1.0" > "1.0b").
namespace VersionComparator {

// Negative when `a` is older than `b`, zero when equal, positive when newer.
int compare(QStringView a, QStringView b);

} // namespace VersionComparator
