#pragma once

#include <chrono>

// An instant. system_clock counts nanoseconds here, so it spans the years
// 1677 to 2262; readers clamp or reject instants outside that range.
using Timestamp = std::chrono::system_clock::time_point;
