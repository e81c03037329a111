// PlainTextLog: the pager's edits as one edit block on the log's document.
#include "app/qt/plain_text_log.h"

#include "features/window_features.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

PlainTextLog::PlainTextLog(QPlainTextEdit* logEdit, const WindowFeatures* windowFeatures)
    : log(logEdit), features(windowFeatures) {}

void PlainTextLog::clear() {
    log->clear();
    blocks = 0;
}

std::vector<size_t> PlainTextLog::edit(size_t dropUnits, const std::vector<LogLine>& lines) {
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
    for (const LogLine& line : lines) {
        const int before = blocks == 0 ? 0 : document->blockCount();
        if (blocks > 0) {
            cursor.insertBlock();
        }
        // Bytes that are not UTF-8 turn into replacement characters. Line feeds and carriage
        // returns inside the line start new blocks, counted from the document rather than guessed.
        const std::string shown = features ? features->shownLine(line.text, line.info) : line.text;
        QTextCharFormat format;
        if (features && features->shownBold(line.text, line.info))
            format.setFontWeight(QFont::Bold);
        cursor.insertText(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())),
                          format);
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
