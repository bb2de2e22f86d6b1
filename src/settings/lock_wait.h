#pragma once
// Saves into the INI file take turns: each holds an exclusive lock on the
// file for one read, one write and an fsync. One that finds the lock taken
// waits, and a window may want to say so.

#include <chrono>
#include <functional>

namespace melodex {

// A save that has waited this long gives up: the program holding the lock
// has hung, and waiting on it would hang us too.
inline constexpr std::chrono::milliseconds kLockWaitLimit = std::chrono::seconds(10);

// Called again and again, every 20 ms at most, while a save waits for the
// lock another program holds, with how long it has waited so far; returning
// false gives up at once, and the save fails without writing anything. A
// window shows a "waiting for another program" box with Cancel from here,
// and keeps its events flowing.
using LockWait = std::function<bool(std::chrono::milliseconds waited)>;

} // namespace melodex
