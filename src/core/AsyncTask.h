#pragma once

#include <QCoroTask>

#include <exception>
#include <functional>
#include <utility>

// Starts a coroutine from plain (non-coroutine) code and lets it run to its
// end on the event loop. QCoro would drop an exception that escapes a task
// nobody awaits; here it goes to onError instead (or is logged when there is
// no handler), so no failure is ever lost.
using TaskErrorHandler = std::function<void(std::exception_ptr)>;

namespace detail {
void reportUnhandledTaskError(std::exception_ptr error);

template <typename T>
QCoro::Task<> guardTask(QCoro::Task<T> task, TaskErrorHandler onError)
{
    try {
        co_await std::move(task);
    } catch (...) {
        if (onError)
            onError(std::current_exception());
        else
            reportUnhandledTaskError(std::current_exception());
    }
}
} // namespace detail

template <typename T>
void startDetached(QCoro::Task<T> task, TaskErrorHandler onError = {})
{
    // The guard's own Task is dropped at once; QCoro keeps the coroutine
    // alive until it finishes.
    detail::guardTask(std::move(task), std::move(onError));
}
