#include "VelmoError.h"

#include <gtest/gtest.h>

namespace {

TEST(VelmoError, DescriptionsOfEveryCase)
{
    EXPECT_STREQ(VelmoError::unauthorized("token expired").what(), "Credential rejected: token expired");
    EXPECT_STREQ(VelmoError::http(500, "Internal error").what(), "500: Internal error");
    EXPECT_STREQ(VelmoError::network("The request timed out").what(), "Network error: The request timed out");
    EXPECT_STREQ(VelmoError::decoding("bad").what(), "Unexpected response: bad");
    EXPECT_STREQ(VelmoError::missingCredential().what(), "No credential configured");
    EXPECT_EQ(VelmoError::http(404, "x").errorDescription(), "404: x");
}

TEST(VelmoError, OnlyARejectedCredentialIsACredentialProblem)
{
    EXPECT_TRUE(VelmoError::unauthorized("x").isCredentialProblem());
    EXPECT_FALSE(VelmoError::missingCredential().isCredentialProblem());
    EXPECT_FALSE(VelmoError::http(401, "x").isCredentialProblem());
    EXPECT_FALSE(VelmoError::network("x").isCredentialProblem());
    EXPECT_FALSE(VelmoError::decoding("x").isCredentialProblem());
}

TEST(VelmoError, EqualityComparesCaseAndPayload)
{
    EXPECT_EQ(VelmoError::http(500, "a"), VelmoError::http(500, "a"));
    EXPECT_NE(VelmoError::http(500, "a"), VelmoError::http(502, "a"));
    EXPECT_NE(VelmoError::http(500, "a"), VelmoError::http(500, "b"));
    EXPECT_NE(VelmoError::network("a"), VelmoError::decoding("a"));
    EXPECT_EQ(VelmoError::missingCredential(), VelmoError::missingCredential());
    EXPECT_EQ(VelmoError::http(503, "m").status(), 503);
    EXPECT_EQ(VelmoError::unauthorized("m").message(), "m");
    EXPECT_EQ(VelmoError::unauthorized("m").kind(), VelmoError::Kind::unauthorized);
}

} // namespace
