// The input line's Tab and Enter handling.
#include "app/qt/input_edit_proc.h"

#include "wire/formatting.h"

#include <QByteArray>
#include <QKeyEvent>
#include <QLineEdit>

#include <string_view>
#include <utility>

InputEditProc::InputEditProc(QLineEdit* inputLine,
                             std::function<void(const std::string&)> enterText)
    : QObject(inputLine), line(inputLine), onEnter(std::move(enterText)) {
    line->installEventFilter(this);
}

bool InputEditProc::eventFilter(QObject* watched, QEvent* event) {
    // The filter sees the key before QWidget::event, which would pass Tab to focusNextPrevChild.
    if (watched != line || event->type() != QEvent::KeyPress) {
        return QObject::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Ctrl+Enter is swallowed rather than taken as a second way to send the line.
        if (!(key->modifiers() & Qt::ControlModifier))
            enter();
        return true;
    default:
        return false;
    }
}

void InputEditProc::enter() {
    const QByteArray bytes = line->text().toUtf8();
    // The text must fit the 1024-byte send buffer with its terminator.
    const std::string text(
        CutToCharBoundary(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                          SEND_BUFFER_SIZE - 1));
    line->clear();
    onEnter(text);
}
