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

// Called on the saving thread while a save waits for the lock another
// program holds, again at least every 20 ms, with how long it has waited so
// far; never when the lock is free. Returning false gives up at once: the
// save fails ("cancelled") and writes nothing. A window shows a "waiting for
// another program" box with Cancel from here once a second has passed, and
// keeps its events flowing.
using LockWait = std::function<bool(std::chrono::milliseconds waited)>;

} // namespace melodex
