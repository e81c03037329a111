// RichEditLog: the pager's edits as one hidden replacement of the rich edit's text per refresh.
#include "app/win32/rich_edit_log.h"

#include "features/window_features.h"
#include "text/wide_text.h"

#include <richedit.h>

#include <algorithm>

namespace {

// Rich edit's code page number for UTF-16 text. With it, text goes in and out of the control
// unconverted whatever the system's ANSI code page is, and a line that happens to start like RTF
// is never read as RTF.
constexpr UINT UTF16_CODE_PAGE = 1200;

// A line's text as the control stores it: rich edit ends a paragraph with one carriage return and
// turns a CR LF pair or a lone line feed into one, so the line's length in the control is known
// before it goes in.
std::wstring Paragraphs(const std::string& line) {
    std::wstring wide = WideFromUtf8(line);
    std::wstring text;
    text.reserve(wide.size() + 1);
    for (size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n')
            ++i;
        text += wide[i] == L'\n' ? L'\r' : wide[i];
    }
    text += L'\r';
    return text;
}

} // namespace

RichEditLog::RichEditLog(HWND logControl, const WindowFeatures* windowFeatures)
    : log(logControl), features(windowFeatures) {}

std::string RichEditLog::shown(const LogLine& line) const {
    return features ? features->shownLine(line.text, line.info) : line.text;
}

void RichEditLog::setBold(long from, long to, bool bold) {
    CHARRANGE range{from, to};
    ::SendMessageW(log, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BOLD;
    format.dwEffects = bold ? CFE_BOLD : 0;
    ::SendMessageW(log, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

void RichEditLog::clear() {
    ::SetWindowTextW(log, L"");
}

long RichEditLog::length() const {
    GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, UTF16_CODE_PAGE};
    return static_cast<long>(
        ::SendMessageW(log, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0));
}

void RichEditLog::replace(long from, long to, const std::wstring& text) {
    CHARRANGE range{from, to};
    ::SendMessageW(log, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    SETTEXTEX how{ST_SELECTION, UTF16_CODE_PAGE};
    ::SendMessageW(log, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how),
                   reinterpret_cast<LPARAM>(text.c_str()));
}

std::vector<size_t> RichEditLog::edit(size_t dropUnits, const std::vector<LogLine>& lines) {
    // Hidden from painting until the whole edit is in: one repaint per refresh.
    ::SendMessageW(log, WM_SETREDRAW, FALSE, 0);
    if (dropUnits > 0)
        replace(0, static_cast<long>(dropUnits), L"");

    std::vector<size_t> units;
    units.reserve(lines.size());
    std::wstring slice;
    for (const LogLine& line : lines) {
        const std::wstring paragraph = Paragraphs(shown(line));
        units.push_back(paragraph.size());
        slice += paragraph;
    }
    if (!slice.empty()) {
        // The whole slice goes in as one insertion at the end.
        const long before = length();
        replace(before, before, slice);
        if (static_cast<size_t>(length() - before) != slice.size()) {
            // The control changed some character count after all: take the slice out again and
            // measure each line as it goes in, so that dropping lines later stays exact.
            replace(before, length(), L"");
            for (size_t i = 0; i < lines.size(); ++i) {
                const long start = length();
                replace(start, start, Paragraphs(shown(lines[i])));
                units[i] = static_cast<size_t>(length() - start);
            }
        }
        // Inserted text takes the format of the text before it: the slice starts plain, then the
        // lines that mention the user's name turn bold.
        setBold(before, length(), false);
        long at = before;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (features && features->shownBold(lines[i].text, lines[i].info))
                setBold(at, at + static_cast<long>(units[i]), true);
            at += static_cast<long>(units[i]);
        }
    }
    ::SendMessageW(log, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(log, nullptr, TRUE);
    // The newest line shows, wherever the user had scrolled to.
    if (!lines.empty())
        ::SendMessageW(log, WM_VSCROLL, SB_BOTTOM, 0);
    return units;
}

std::string RichEditLog::text(HWND log) {
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
