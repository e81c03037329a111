// The two fonts of the window: the dialog font of every control and the chat font of the log and
// the user list.
#pragma once

#include <QFont>

// "MS Shell Dlg" at 8 points, normal weight; a metric-compatible sans face stands in for it.
QFont DialogFont();

// Arial, 12 pixels high, normal weight, antialiased; Liberation Sans stands in when Arial is
// absent.
QFont ChatFont();
