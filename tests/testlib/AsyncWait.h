#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

namespace velmo::test {

// What a task ended with: its value, its exception, or the watchdog.
template <typename T>
struct TaskOutcome {
    std::optional<T> value;
    std::exception_ptr error;
    bool timedOut = false;

    bool ok() const { return value.has_value(); }
    // The exception's what(), or "" when there is none.
    std::string errorText() const
    {
        if (!error)
            return {};
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            return e.what();
        } catch (...) {
            return "unknown exception";
        }
    }
    // Rethrows the exception so a test can check its type.
    void rethrow() const
    {
        if (error)
            std::rethrow_exception(error);
    }
};

template <>
struct TaskOutcome<void> : TaskOutcome<bool> { };

namespace detail {
template <typename T>
QCoro::Task<> settle(QCoro::Task<T> task, TaskOutcome<T>& outcome, bool& done, QEventLoop& loop)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome.value = true;
        } else {
            outcome.value.emplace(co_await std::move(task));
        }
    } catch (...) {
        outcome.error = std::current_exception();
    }
    done = true;
    loop.quit();
}
} // namespace detail

// Runs the event loop until the task ends or the watchdog fires. Unlike
// QCoro::waitFor, a throwing task gives its exception back instead of hanging.
// On a timeout the task is left running; the test fails through timedOut.
template <typename T>
TaskOutcome<T> waitForTask(QCoro::Task<T> task, std::chrono::milliseconds watchdog = std::chrono::seconds(20))
{
    TaskOutcome<T> outcome;
    bool done = false;
    QEventLoop loop;
    auto guard = detail::settle<T>(std::move(task), outcome, done, loop);
    if (!done) {
        // Bound to the loop: the watchdog goes with it.
        QTimer::singleShot(watchdog, &loop, &QEventLoop::quit);
        loop.exec();
        outcome.timedOut = !done;
    }
    return outcome;
}

} // namespace velmo::test
