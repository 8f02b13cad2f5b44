#pragma once

#include <exception>
#include <stdexcept>

// The exception of type E that `error` holds; any other (or none) fails the caller.
template <typename E> E thrown(const std::exception_ptr& error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const E& expected) {
        return expected;
    } catch (...) {
    }
    throw std::logic_error("not the expected exception");
}
