// RichEditLog: the dialog's read-only rich-edit control as the log control the pager edits.
#pragma once

#include "model/log_pager.h"

#include <windows.h>

#include <string>
#include <vector>

class WindowFeatures;

// Units are the control's characters (UTF-16 code units, one per paragraph mark).
class RichEditLog : public LogControl {
public:
    // The dialog owns the control, which outlives this object; so do features, when given, which
    // say how each line shows (times, bold).
    explicit RichEditLog(HWND log, const WindowFeatures* features = nullptr);

    void clear() override;
    std::vector<size_t> edit(size_t dropUnits, const std::vector<LogLine>& lines) override;

    // The control's whole text, paragraphs ending in "\n", as UTF-8 (for tests and the screenshot).
    static std::string text(HWND log);

private:
    long length() const;
    void replace(long from, long to, const std::wstring& text);
    void setBold(long from, long to, bool bold);
    std::string shown(const LogLine& line) const;

    HWND log;
    const WindowFeatures* features;
};
