#include "HTTPResponse.h"

#include <gtest/gtest.h>

namespace {

TEST(HTTPResponse, SuccessIsExactlyThe2xxRange)
{
    for (int status : { 200, 201, 204, 299 })
        EXPECT_TRUE((HTTPResponse { status, {}, {} }).isSuccess()) << status;
    for (int status : { 0, 199, 300, 302, 401, 500 })
        EXPECT_FALSE((HTTPResponse { status, {}, {} }).isSuccess()) << status;
}

TEST(HTTPResponse, HeaderLookupIgnoresCaseAndTakesTheFirstMatch)
{
    HTTPResponse response { 200, {}, { { "Content-Type", "text/plain" }, { "Retry-After", "5" }, { "RETRY-AFTER", "9" } } };
    EXPECT_EQ(response.header("retry-after"), QByteArray("5"));
    EXPECT_EQ(response.header("CONTENT-TYPE"), QByteArray("text/plain"));
    EXPECT_EQ(response.header("Location"), std::nullopt);
    EXPECT_EQ(response.header("Retry"), std::nullopt);
}

} // namespace
