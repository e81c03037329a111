// Finding a window's control by its object name (its control id) in Qt tests.
#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

// The control named name under root. A missing control ends the test program with its name:
// Q_ASSERT is compiled out of release builds, and a null pointer would only crash later.
template <typename Widget> Widget* FindControl(const QObject* root, const char* name) {
    Widget* widget = root->findChild<Widget*>(QString::fromUtf8(name));
    if (widget == nullptr)
        qFatal("no control named %s", name);
    return widget;
}
