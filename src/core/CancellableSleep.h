#pragma once

#include <QCoroTask>

#include <chrono>
#include <stop_token>

// Waits on the event loop for `duration`; a stop request ends the wait at once
// with CancellationError. A token that is already stopped throws without
// waiting.
QCoro::Task<> cancellableSleep(std::chrono::milliseconds duration, std::stop_token stop);
