// Work that network threads hand to the user-interface thread (destroying a client whose
// connection ended, for one: a client is never destroyed on its own receive thread).
#pragma once

#include <functional>

// How the front-end is told that tasks are waiting; it must call RunUiTasks() soon on its own
// thread. Called on any thread; it must not block. Without one, tasks wait for the next command.
void SetUiWakeup(std::function<void()> wakeup);
// Queues a task for the user-interface thread. Never waits for that thread.
void PostUiTask(std::function<void()> task);
// Runs every queued task, on the user-interface thread.
void RunUiTasks();
