// LogAccessible: the log's accessible text, its lines the document's blocks.
#include "app/qt/log_accessible.h"

#include <QAccessibleWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

class LogAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LogAccessible(QPlainTextEdit* log)
        : QAccessibleWidget(log, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    // The text: the document's blocks, each ended by a line feed but the last.
    QString text(int start, int end) const override {
        const QString all = log()->document()->toPlainText();
        return all.mid(start, end - start);
    }
    int characterCount() const override { return log()->document()->characterCount() - 1; }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                         int* end) const override {
        if (boundary != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textAtOffset(offset, boundary, start, end);
        return line(log()->document()->findBlock(offset), start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                             int* end) const override {
        if (boundary != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textBeforeOffset(offset, boundary, start, end);
        return line(log()->document()->findBlock(offset).previous(), start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                            int* end) const override {
        if (boundary != QAccessible::LineBoundary)
            return QAccessibleTextInterface::textAfterOffset(offset, boundary, start, end);
        return line(log()->document()->findBlock(offset).next(), start, end);
    }

    void selection(int index, int* start, int* end) const override {
        const QTextCursor cursor = log()->textCursor();
        *start = index == 0 && cursor.hasSelection() ? cursor.selectionStart() : 0;
        *end = index == 0 && cursor.hasSelection() ? cursor.selectionEnd() : 0;
    }
    int selectionCount() const override { return log()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override {
        QTextCursor cursor = log()->textCursor();
        cursor.clearSelection();
        log()->setTextCursor(cursor);
    }
    void setSelection(int, int start, int end) override {
        QTextCursor cursor = log()->textCursor();
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        log()->setTextCursor(cursor);
    }
    int cursorPosition() const override { return log()->textCursor().position(); }
    void setCursorPosition(int position) override {
        QTextCursor cursor = log()->textCursor();
        cursor.setPosition(position);
        log()->setTextCursor(cursor);
    }

    QRect characterRect(int offset) const override {
        QTextCursor cursor(log()->document());
        cursor.setPosition(offset);
        QRect place = log()->cursorRect(cursor);
        const QTextCharFormat format = cursor.charFormat();
        place.setWidth(
            QFontMetrics(format.font()).horizontalAdvance(log()->document()->characterAt(offset)));
        return QRect(log()->viewport()->mapToGlobal(place.topLeft()), place.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        return log()->cursorForPosition(log()->viewport()->mapFromGlobal(point)).position();
    }
    void scrollToSubstring(int start, int) override {
        QTextCursor cursor(log()->document());
        cursor.setPosition(start);
        const QRect place = log()->cursorRect(cursor);
        QScrollBar* bar = log()->verticalScrollBar();
        if (place.top() < 0 || place.bottom() > log()->viewport()->height())
            bar->setValue(bar->value() + place.top());
    }
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    QPlainTextEdit* log() const { return static_cast<QPlainTextEdit*>(widget()); }

    // A log line, from its start to after its line break (the last line has none).
    QString line(const QTextBlock& block, int* start, int* end) const {
        if (!block.isValid()) {
            *start = *end = -1;
            return {};
        }
        *start = block.position();
        *end = std::min(block.position() + block.length(), characterCount());
        return text(*start, *end);
    }
};

QAccessibleInterface* LogFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("QPlainTextEdit") &&
        object->objectName() == QLatin1String("IDC_LOG"))
        return new LogAccessible(static_cast<QPlainTextEdit*>(object));
    return nullptr;
}

} // namespace

void InstallLogAccessible() {
    static const bool installed = [] {
        QAccessible::installFactory(LogFactory);
        return true;
    }();
    (void)installed;
}
