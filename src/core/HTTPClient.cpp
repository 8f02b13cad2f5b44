#include "HTTPClient.h"

#include "CancellableSleep.h"
#include "Cancellation.h"
#include "NetworkError.h"
#include "QtNetworkTransport.h"

#include <QRandomGenerator>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace {

// A back-off never waits longer than this, however large the attempt count.
constexpr double maxBackoff = 3600.0;

std::chrono::milliseconds toMilliseconds(double seconds)
{
    if (!(seconds > 0)) // also NaN
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(std::min(seconds, maxBackoff) * 1000.0)));
}

bool isDecimalNumber(std::string_view text)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return false;
    }
    return i == text.size();
}

} // namespace

HTTPClient::HTTPClient(std::shared_ptr<HTTPTransport> transport, int maxAttempts, double baseDelay, double timeout)
    : m_transport(std::move(transport))
    , m_maxAttempts(maxAttempts)
    , m_baseDelay(baseDelay)
    , m_timeout(timeout)
{
}

HTTPClient HTTPClient::platform(int maxAttempts, double baseDelay, double timeout, bool followsRedirects)
{
    return HTTPClient(std::make_shared<QtNetworkTransport>(followsRedirects), maxAttempts, baseDelay, timeout);
}

bool HTTPClient::isRetryableStatus(int status)
{
    return std::find(retryableStatuses.begin(), retryableStatuses.end(), status) != retryableStatuses.end();
}

std::optional<double> HTTPClient::parseRetryAfter(QByteArrayView text)
{
    std::string_view view(text.data(), static_cast<std::size_t>(text.size()));
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!view.empty() && isBlank(view.front()))
        view.remove_prefix(1);
    while (!view.empty() && isBlank(view.back()))
        view.remove_suffix(1);
    // Only the decimal form: no hex, "inf" or "nan" words.
    if (!isDecimalNumber(view))
        return std::nullopt;
    const bool negative = view.front() == '-';
    if (view.front() == '+' || negative)
        view.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Too small to hold is zero; too large is infinite (clamped later).
        const bool tiny = view.find("e-") != std::string_view::npos || view.find("E-") != std::string_view::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (error != std::errc() || end != view.data() + view.size()) {
        return std::nullopt;
    }
    if (std::isnan(value))
        return std::nullopt;
    return negative ? -value : value;
}

double HTTPClient::jitter(std::uint64_t bits)
{
    constexpr double top = static_cast<double>((std::uint64_t(1) << 53) - 1);
    const double unit = static_cast<double>(bits >> 11) / top; // [0, 1], both ends reachable
    return std::lerp(0.7, 1.3, unit);
}

std::uint64_t HTTPClient::systemRandom()
{
    return QRandomGenerator::system()->generate64();
}

double HTTPClient::delay(int attempt, double base, std::optional<QByteArray> retryAfter, const RandomSource& random)
{
    if (retryAfter) {
        if (const auto seconds = parseRetryAfter(*retryAfter))
            return std::clamp(*seconds, 0.0, maxRetryAfter);
    }
    const double growth = std::pow(3.0, std::max(attempt, 1) - 1);
    return base * growth * jitter(random ? random() : systemRandom());
}

double HTTPClient::delay(int attempt, double base, std::optional<QByteArray> retryAfter)
{
    return delay(attempt, base, std::move(retryAfter), RandomSource());
}

QCoro::Task<HTTPResponse> HTTPClient::send(HTTPRequest request, bool idempotent, std::stop_token stop) const
{
    // The coroutine runs on a copy, so the caller may drop this client meanwhile.
    return run(*this, std::move(request), idempotent, std::move(stop));
}

QCoro::Task<> HTTPClient::wait(double seconds, std::stop_token stop) const
{
    const auto duration = toMilliseconds(seconds);
    if (m_sleeper)
        return m_sleeper(duration, std::move(stop));
    return cancellableSleep(duration, std::move(stop));
}

QCoro::Task<HTTPResponse> HTTPClient::run(HTTPClient client, HTTPRequest request, bool idempotent, std::stop_token stop)
{
    // Zero, negative or NaN: no limit. A day is more than any request needs.
    const double timeout = client.m_timeout > 0 ? std::min(client.m_timeout, 86400.0) : 0.0;
    request.timeout = std::chrono::milliseconds(timeout > 0 ? std::max<std::int64_t>(std::llround(timeout * 1000.0), 1) : 0);
    const int limit = idempotent ? std::max(client.m_maxAttempts, 1) : 1;
    if (!client.m_transport)
        throw NetworkError(NetworkError::Code::other, "No transport configured");

    for (int attempt = 1;; ++attempt) {
        throwIfCancelled(stop);
        std::optional<HTTPResponse> response;
        bool retryFailure = false;
        try {
            response = co_await client.m_transport->send(request, stop);
        } catch (const NetworkError& error) {
            if (!error.isTransient() || attempt >= limit)
                throw;
            retryFailure = true;
        }
        if (retryFailure) {
            co_await client.wait(delay(attempt, client.m_baseDelay, std::nullopt, client.m_random), stop);
            continue;
        }
        if (!isRetryableStatus(response->status) || attempt >= limit)
            co_return std::move(*response);
        const double seconds = delay(attempt, client.m_baseDelay, response->header("Retry-After"), client.m_random);
        co_await client.wait(seconds, stop);
    }
}
