#include "VelmoError.h"

#include <gtest/gtest.h>

namespace {

TEST(VelmoError, DescriptionsAndWhichCaseIsACredentialProblem)
{
    EXPECT_STREQ(VelmoError::decoding("bad").what(), "Unexpected response: bad");
    EXPECT_STREQ(VelmoError::missingCredential().what(), "No credential configured");
    EXPECT_TRUE(VelmoError::unauthorized("x").isCredentialProblem());
    // A signed-out user and a bare 401 status are no rejected credential.
    EXPECT_FALSE(VelmoError::missingCredential().isCredentialProblem());
    EXPECT_FALSE(VelmoError::http(401, "x").isCredentialProblem());
    EXPECT_NE(VelmoError::http(500, "a"), VelmoError::http(502, "a"));
    EXPECT_NE(VelmoError::network("a"), VelmoError::decoding("a"));
}

} // namespace
