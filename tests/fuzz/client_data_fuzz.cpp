// Fuzz target: OnClientData, the client's handling of whatever a host sends, with the view model
// in place of the window.
//
// The input is cut into blocks as reads would cut it. After every input the tables must still be
// sane (no name holds a newline or a NUL) and the view sound (ViewIsSound: at most 33 people
// listed, no line begun inside a received text, the log within its bound).
#include "chat/client_messages.h"
#include "chat/program_state.h"
#include "chat/window_ops.h"
#include "model/ui_tasks.h"
#include "tests/fuzz/view_oracle.h"
#include "wire/protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool SaneName(const std::string& name) {
    return name.find('\n') == std::string::npos && name.find('\0') == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::lock_guard<CheckedMutex> guard(ChatLock);
        ResetChatView(true);
        HostName.clear();
    }
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        // Blocks are what one read hands over: at most 1023 bytes, followed by a zero byte.
        std::string block = input.ConsumeRandomLengthString(1023);
        OnClientData(block.data(), static_cast<int32_t>(block.size()));
    }
    // What the user-interface thread would do next: a host departure queues the client's
    // teardown for it.
    RunUiTasks();
    std::lock_guard<CheckedMutex> guard(ChatLock);
    Check(SaneName(HostName));
    for (const std::string& name : UserTable)
        Check(SaneName(name));
    Check(ViewIsSound());
    return 0;
}
