// PlainTextLog: the pager's edits as one edit block on the log's document.
#include "app/qt/plain_text_log.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

PlainTextLog::PlainTextLog(QPlainTextEdit* logEdit) : log(logEdit) {}

void PlainTextLog::clear() {
    log->clear();
    blocks = 0;
}

std::vector<size_t> PlainTextLog::edit(size_t dropUnits, const std::vector<std::string>& lines) {
    QTextDocument* document = log->document();
    QTextCursor cursor(document);
    // One edit block, so that the document lays itself out once per edit, not once per line.
    cursor.beginEditBlock();
    if (dropUnits >= blocks) {
        if (dropUnits > 0) {
            cursor.select(QTextCursor::Document);
            cursor.removeSelectedText();
            blocks = 0;
        }
    } else if (dropUnits > 0) {
        // From the start of the first block to the start of the first kept one, separator
        // included.
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                            static_cast<int>(dropUnits));
        cursor.removeSelectedText();
        blocks -= dropUnits;
    }
    std::vector<size_t> units;
    units.reserve(lines.size());
    cursor.movePosition(QTextCursor::End);
    for (const std::string& line : lines) {
        const int before = blocks == 0 ? 0 : document->blockCount();
        if (blocks > 0) {
            cursor.insertBlock();
        }
        // Bytes that are not UTF-8 turn into replacement characters. Line feeds and carriage
        // returns inside the line start new blocks, counted from the document rather than guessed.
        cursor.insertText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        units.push_back(static_cast<size_t>(document->blockCount() - before));
        blocks += units.back();
    }
    cursor.endEditBlock();
    if (!lines.empty()) {
        // The newest line shows, wherever the user had scrolled to.
        QScrollBar* bar = log->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    return units;
}
