// DialogView: the view model applied to the rich-edit log, the list box and the input line.
#include "app/win32/dialog_view.h"

#include "chat/window_ops.h"
#include "features/window_features.h"
#include "text/wide_text.h"

#include <utility>

DialogView::DialogView(HWND logControl, HWND userList, HWND inputLine,
                       WindowFeatures* windowFeatures)
    : features(windowFeatures), log(logControl, windowFeatures), users(userList), input(inputLine) {
    seenInputClears = ChatView.inputClears();
    if (features) {
        logPager.heard = [this](const ChatViewModel::LogUpdate& update) {
            features->linesArrived(update, windowActive);
        };
    }
}

bool DialogView::refresh(bool active) {
    windowActive = active;
    const bool waiting = logPager.refresh(ChatView, log);

    std::vector<std::string> names = ChatView.users();
    if (names != shownUsers) {
        ::SendMessageW(users, LB_RESETCONTENT, 0, 0);
        for (const std::string& name : names) {
            const std::wstring wide = WideFromUtf8(name);
            ::SendMessageW(users, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        }
        shownUsers = std::move(names);
    }

    const uint64_t clears = ChatView.inputClears();
    if (clears != seenInputClears) {
        seenInputClears = clears;
        ::SetWindowTextW(input, L"");
    }
    return waiting;
}

void DialogView::rerender() {
    logPager.reshow(log);
}
