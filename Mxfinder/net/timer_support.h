// MTimerSupport: the process-wide record of fired timers and the hidden
// object whose Qt timers stand in for system timers. Single-threaded: a timer
// fires only while the thread that started it runs its event loop.
#pragma once

#include <cstdint>
#include <string>

namespace mxfinder::MTimerSupport {

// The identifiers of timers that have fired and not been stopped since,
// each in decimal followed by ";", once per firing.
std::string& FiredTimers();

// Appends `id` and ";" to FiredTimers. Called when a timer fires.
void TimerProc(int32_t id);

// A fresh timer identifier, never handed out before in this process.
int32_t NewTimerId();

// Starts (or starts again, cancelling its earlier period) the repeating
// timer `id` with a period of `period_ms` milliseconds on the calling
// thread.
void StartSystemTimer(int32_t id, int period_ms);

// Cancels the timer `id`; nothing when it does not run.
void KillSystemTimer(int32_t id);

}  // namespace mxfinder::MTimerSupport
