// InputEditProc: the input line's own key handling, installed as an event filter on it.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QLineEdit;

// Tab (and Shift+Tab) is swallowed: nothing is typed and the focus stays in the line. Enter takes
// the line's text (UTF-8, at most 1023 bytes, cut at a character boundary), empties the line and
// hands the text to onEnter, even when it is empty; Ctrl+Enter does nothing. Every other event
// goes on to the line.
class InputEditProc : public QObject {
    Q_OBJECT
public:
    InputEditProc(QLineEdit* line, std::function<void(const std::string&)> onEnter);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void enter();

    QLineEdit* line;
    std::function<void(const std::string&)> onEnter;
};
