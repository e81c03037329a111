// DialogView: the view model applied to the rich-edit log, the list box and the input line.
#include "app/win32/dialog_view.h"

#include "app/win32/wide_text.h"
#include "chat/window_ops.h"
#include "features/window_features.h"

#include <richedit.h>

#include <algorithm>
#include <utility>

namespace {

// Rich edit's code page number for UTF-16 text. With it, text goes in and out of the control
// unconverted whatever the system's ANSI code page is, and a line that happens to start like RTF
// is never read as RTF.
constexpr UINT UTF16_CODE_PAGE = 1200;

void ReplaceSelection(HWND log, const std::wstring& text) {
    SETTEXTEX how{ST_SELECTION, UTF16_CODE_PAGE};
    ::SendMessageW(log, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how),
                   reinterpret_cast<LPARAM>(text.c_str()));
}

void Select(HWND log, long from, long to) {
    CHARRANGE range{from, to};
    ::SendMessageW(log, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

} // namespace

DialogView::DialogView(HWND logControl, HWND userList, HWND inputLine,
                       WindowFeatures* windowFeatures)
    : log(logControl), users(userList), input(inputLine), features(windowFeatures) {
    seenInputClears = ChatView.inputClears();
}

bool DialogView::refresh(bool windowActive) {
    ChatViewModel::LogUpdate update = ChatView.logSince(logCursor);
    if (features)
        features->linesArrived(update, windowActive);
    applyLog(std::move(update));

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
    return !pendingLines.empty();
}

void DialogView::applyLog(ChatViewModel::LogUpdate update) {
    if (update.cleared) {
        ::SetWindowTextW(log, L"");
        lineLengths.clear();
        pendingLines.clear();
    }
    // Lines the log let go of leave the top of what is shown first, then the waiting ones.
    const size_t shownDropped = std::min(update.droppedFront, lineLengths.size());
    const size_t waitingDropped = std::min(update.droppedFront - shownDropped, pendingLines.size());
    pendingLines.erase(pendingLines.begin(),
                       pendingLines.begin() + static_cast<std::ptrdiff_t>(waitingDropped));
    for (size_t i = 0; i < update.added.size(); ++i)
        pendingLines.emplace_back(std::move(update.added[i]), update.addedInfo[i]);
    if (shownDropped == 0 && pendingLines.empty())
        return;

    const size_t count = std::min(pendingLines.size(), LINES_PER_REFRESH);
    // One repaint per refresh, not one per line.
    ::SendMessageW(log, WM_SETREDRAW, FALSE, 0);
    dropLines(shownDropped);
    for (size_t i = 0; i < count; ++i)
        appendLine(pendingLines[i].first, pendingLines[i].second);
    pendingLines.erase(pendingLines.begin(),
                       pendingLines.begin() + static_cast<std::ptrdiff_t>(count));
    ::SendMessageW(log, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(log, nullptr, TRUE);
    // The newest line shows, wherever the user had scrolled to.
    if (count > 0)
        ::SendMessageW(log, WM_VSCROLL, SB_BOTTOM, 0);
}

long DialogView::textLength() const {
    GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, UTF16_CODE_PAGE};
    return static_cast<long>(
        ::SendMessageW(log, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0));
}

bool DialogView::rerender() {
    ::SetWindowTextW(log, L"");
    lineLengths.clear();
    pendingLines.clear();
    logCursor = {};
    applyLog(ChatView.logSince(logCursor));
    return !pendingLines.empty();
}

void DialogView::appendLine(const std::string& line, const ChatViewModel::LineInfo& info) {
    // Each line ends with its own paragraph mark, as the log's text ends each line with a feed.
    const long before = textLength();
    Select(log, before, before);
    // The format of the empty selection is what the inserted text takes: bold or not, each line
    // on its own, whatever the line before it was.
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BOLD;
    format.dwEffects = features && features->shownBold(line, info) ? CFE_BOLD : 0;
    ::SendMessageW(log, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    ReplaceSelection(log, WideFromUtf8(features ? features->shownLine(line, info) : line) + L'\r');
    lineLengths.push_back(textLength() - before);
}

void DialogView::dropLines(size_t count) {
    count = std::min(count, lineLengths.size());
    if (count == 0)
        return;
    long characters = 0;
    for (size_t i = 0; i < count; ++i) {
        characters += lineLengths.front();
        lineLengths.pop_front();
    }
    Select(log, 0, characters);
    ReplaceSelection(log, L"");
}

std::string DialogView::logText(HWND log) {
    GETTEXTLENGTHEX measure{GTL_NUMCHARS | GTL_PRECISE, UTF16_CODE_PAGE};
    const auto length = static_cast<size_t>(
        ::SendMessageW(log, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&measure), 0));
    std::wstring text(length + 1, L'\0');
    GETTEXTEX how{};
    how.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    how.flags = GT_DEFAULT;
    how.codepage = UTF16_CODE_PAGE;
    const auto got = static_cast<size_t>(::SendMessageW(
        log, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(text.data())));
    text.resize(std::min(got, length));
    std::replace(text.begin(), text.end(), L'\r', L'\n');
    return Utf8FromWide(text);
}
