#pragma once

#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "HTTPTransport.h"

#include <QCoroTask>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// The retrying client every HTTPS request goes through. A copyable value:
// copies share the transport. Any status is a response (judging it is the
// caller's business); transient network failures and the statuses in
// retryableStatuses are retried with exponential back-off and jitter, or
// after the server's Retry-After, for idempotent requests only.
class HTTPClient {
public:
    // Waits `duration` or throws CancellationError once `stop` is requested.
    using Sleeper = std::function<QCoro::Task<>(std::chrono::milliseconds duration, std::stop_token stop)>;
    // 64 bits from a cryptographically strong source.
    using RandomSource = std::function<std::uint64_t()>;

    static constexpr std::array<int, 6> retryableStatuses { 408, 429, 500, 502, 503, 504 };
    // The most a server may make us wait through Retry-After.
    static constexpr double maxRetryAfter = 30.0;

    // baseDelay and timeout in seconds; a timeout of 0 puts no limit.
    HTTPClient(std::shared_ptr<HTTPTransport> transport, int maxAttempts, double baseDelay, double timeout);

    // Production transport over this thread's QNetworkAccessManager.
    static HTTPClient platform(int maxAttempts, double baseDelay, double timeout, bool followsRedirects);

    // Sends with the client's timeout and retries. Fails with the transport's
    // own error (NetworkError), or CancellationError once `stop` is requested
    // (during a request or a back-off wait alike).
    QCoro::Task<HTTPResponse> send(HTTPRequest request, bool idempotent, std::stop_token stop = {}) const;

    const std::shared_ptr<HTTPTransport>& transport() const { return m_transport; }
    int maxAttempts() const { return m_maxAttempts; }
    double baseDelay() const { return m_baseDelay; }
    double timeout() const { return m_timeout; }

    // Test seams: how back-off waits and where the jitter comes from.
    void setSleeper(Sleeper sleeper) { m_sleeper = std::move(sleeper); }
    void setRandomSource(RandomSource random) { m_random = std::move(random); }

    static bool isRetryableStatus(int status);

    // Seconds to wait before the attempt after `attempt` (1-based): the
    // Retry-After value clamped to 0...30 when it is a decimal number,
    // otherwise base × 3^(attempt−1) × a jitter in [0.7, 1.3].
    static double delay(int attempt, double base, std::optional<QByteArray> retryAfter, const RandomSource& random);
    // The same with the system's secure random source.
    static double delay(int attempt, double base, std::optional<QByteArray> retryAfter);

    // A Retry-After value as seconds: a decimal number (sign, fraction,
    // exponent) between optional spaces and tabs. An HTTP date, trailing text
    // or NaN is unreadable.
    static std::optional<double> parseRetryAfter(QByteArrayView text);
    // 53 of the 64 bits mapped evenly onto [0.7, 1.3], both ends included.
    static double jitter(std::uint64_t bits);

    static std::uint64_t systemRandom();

private:
    static QCoro::Task<HTTPResponse> run(HTTPClient client, HTTPRequest request, bool idempotent, std::stop_token stop);
    QCoro::Task<> wait(double seconds, std::stop_token stop) const;

    std::shared_ptr<HTTPTransport> m_transport;
    int m_maxAttempts;
    double m_baseDelay;
    double m_timeout;
    Sleeper m_sleeper;
    RandomSource m_random;
};
