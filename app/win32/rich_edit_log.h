// RichEditLog: the dialog's read-only rich-edit control as the log control the pager edits.
#pragma once

#include "chat/log_pager.h"

#include <windows.h>

#include <string>
#include <vector>

// Units are the control's characters (UTF-16 code units, one per paragraph mark).
class RichEditLog : public LogControl {
public:
    explicit RichEditLog(HWND log); // the dialog owns the control, which outlives this object

    void clear() override;
    std::vector<size_t> edit(size_t dropUnits, const std::vector<std::string>& lines) override;

    // The control's whole text, paragraphs ending in "\n", as UTF-8 (for tests and the screenshot).
    static std::string text(HWND log);

private:
    long length() const;
    void replace(long from, long to, const std::wstring& text);

    HWND log;
};
