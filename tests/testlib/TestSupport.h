#pragma once

#include <QString>
#include <QTemporaryDir>

#include <string>

namespace velmo::test {

// Reads a fixture file below tests/fixtures.
std::string fixture(const std::string& relativePath);

// A scratch folder removed at the end of the test; fails the test when it
// cannot be created.
class ScratchDir {
public:
    ScratchDir();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

} // namespace velmo::test
