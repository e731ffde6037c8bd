#pragma once

#include <functional>

// Polls `condition`, serving the Qt event loop in between, until it holds or `seconds` have passed.
// Returns whether it held.
bool WaitUntil(const std::function<bool()> &condition, int seconds = 10);
