#pragma once

#include <exception>
#include <stop_token>

// Thrown by a cancellable operation whose stop token was triggered. Callers
// that asked for the cancellation catch it; everyone else lets it pass.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "Cancelled"; }
};

inline void throwIfCancelled(const std::stop_token& stop)
{
    if (stop.stop_requested())
        throw CancellationError();
}
