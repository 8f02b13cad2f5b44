#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmo::test {

std::string fixture(const std::string& relativePath)
{
    const std::string path = std::string(VELMO_FIXTURES_DIR) + "/" + relativePath;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("missing fixture " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

ScratchDir::ScratchDir()
{
    EXPECT_TRUE(m_dir.isValid()) << "cannot create a scratch folder";
}

} // namespace velmo::test
