#pragma once
// The fixed pauses that pace what the customer sees (the progress window's
// 100 ms after a step and 1000 ms after the final report, the login's
// 500 ms). They block the calling thread; tests install their own pause to
// see which pauses are asked for without waiting.
#include <chrono>
#include <functional>

namespace quil {

using Milliseconds = std::chrono::milliseconds;

// Blocks for `duration` (or hands it to the pause installed for testing).
void Pause(Milliseconds duration);

// Installs `pause` instead of sleeping; an empty function restores sleeping.
void SetPauseForTesting(std::function<void(Milliseconds)> pause);

}  // namespace quil
