// The session bus's address: the usual variable, or the bus socket in the user's runtime folder.
#include "app/qt/session_bus.h"

#include <QFileInfo>
#include <QString>
#include <QtGlobal>

bool SessionBusAddressKnown() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}
