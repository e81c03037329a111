// PlainTextLog: the window's read-only QPlainTextEdit as the log control the pager edits.
#pragma once

#include "chat/log_pager.h"

class QPlainTextEdit;

// Units are the document's text blocks: a line with line feeds or carriage returns in it takes
// several.
class PlainTextLog : public LogControl {
public:
    explicit PlainTextLog(QPlainTextEdit* log);

    void clear() override;
    std::vector<size_t> edit(size_t dropUnits, const std::vector<std::string>& lines) override;

private:
    QPlainTextEdit* log;
    // Blocks that hold lines. An empty document still has one block, which the first line fills,
    // so this tells an empty document from one whose only line is empty.
    size_t blocks = 0;
};
