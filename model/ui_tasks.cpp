// The queue of tasks handed from network threads to the user-interface thread.
#include "model/ui_tasks.h"

#include <mutex>
#include <utility>
#include <vector>

namespace {
// Guards the two fields below. A leaf lock: nothing is called while it is held.
std::mutex UiTaskLock;
std::vector<std::function<void()>> PendingTasks;
std::function<void()> Wakeup;
} // namespace

void SetUiWakeup(std::function<void()> wakeup) {
    std::lock_guard<std::mutex> guard(UiTaskLock);
    Wakeup = std::move(wakeup);
}

void PostUiTask(std::function<void()> task) {
    std::function<void()> wakeup;
    {
        std::lock_guard<std::mutex> guard(UiTaskLock);
        PendingTasks.push_back(std::move(task));
        wakeup = Wakeup;
    }
    if (wakeup)
        wakeup();
}

void RunUiTasks() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard<std::mutex> guard(UiTaskLock);
        tasks.swap(PendingTasks);
    }
    for (auto& task : tasks)
        task();
}
