// The themed window icon with the built-in one behind it.
#include "app/qt/app_icon.h"

#include <QString>

QIcon AppIcon() {
    QIcon builtIn;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        builtIn.addFile(QStringLiteral(":/window-icon/%1.png").arg(size), QSize(size, size));
    }
    return QIcon::fromTheme(QString::fromUtf8(APP_ID), builtIn);
}
