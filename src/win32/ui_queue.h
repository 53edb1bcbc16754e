#pragma once

// The queue of procedures for the user-interface thread: any thread may add a
// procedure; the thread that created the queue runs them from its message
// loop, in the order they were queued.

#include <functional>

namespace vtl::win32 {

// Creates the queue's window on the calling thread, which becomes the
// user-interface thread. Called once before the first Queue.
void InitializeUiQueue();
// Adds a procedure; it runs on the user-interface thread when that thread
// next dispatches messages. Dropped when the queue was never initialised.
void QueueOnUiThread(std::function<void()> procedure);

}  // namespace vtl::win32
