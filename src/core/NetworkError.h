#pragma once

#include <exception>
#include <string>

// A failure below HTTP: the request got no complete response. What a transport
// throws; what() is the platform's description of the failure.
class NetworkError : public std::exception {
public:
    enum class Code {
        timedOut,
        connectionLost,
        cannotConnect,
        cannotFindHost,
        notConnected,
        resourceUnavailable,
        badServerResponse,
        tlsFailure,
        other,
    };

    NetworkError(Code code, std::string description);

    Code code() const { return m_code; }
    const char* what() const noexcept override { return m_description.c_str(); }
    // Worth another attempt: the network or the host may recover.
    bool isTransient() const;

private:
    Code m_code;
    std::string m_description;
};
