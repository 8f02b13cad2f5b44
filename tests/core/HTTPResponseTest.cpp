#include "HTTPResponse.h"

#include <gtest/gtest.h>

namespace {

TEST(HTTPResponse, SuccessRangeAndCaseInsensitiveFirstHeader)
{
    for (int status : { 200, 299 })
        EXPECT_TRUE((HTTPResponse { status, {}, {} }).isSuccess()) << status;
    for (int status : { 0, 199, 300 })
        EXPECT_FALSE((HTTPResponse { status, {}, {} }).isSuccess()) << status;
    HTTPResponse response { 200, {}, { { "Retry-After", "5" }, { "RETRY-AFTER", "9" } } };
    EXPECT_EQ(response.header("retry-after"), QByteArray("5"));
    EXPECT_EQ(response.header("Retry"), std::nullopt);
}

} // namespace
