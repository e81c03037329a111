// PlainTextLog: the window's read-only QPlainTextEdit as the log control the pager edits.
#pragma once

#include "model/log_pager.h"

class QPlainTextEdit;
class WindowFeatures;

// Units are the document's text blocks: a line with line feeds or carriage returns in it takes
// several.
class PlainTextLog : public LogControl {
public:
    // features, when given, say how each line shows (times, bold); they outlive this object.
    explicit PlainTextLog(QPlainTextEdit* log, const WindowFeatures* features = nullptr);

    void clear() override;
    std::vector<size_t> edit(size_t dropUnits, const std::vector<LogLine>& lines) override;

private:
    QPlainTextEdit* log;
    const WindowFeatures* features;
    // Blocks that hold lines. An empty document still has one block, which the first line fills,
    // so this tells an empty document from one whose only line is empty.
    size_t blocks = 0;
};
