// DesktopTheme: the window's light or dark colours, as the user chose or as the desktop prefers
// (the settings portal's color-scheme, read at the start and followed while the program runs).
#pragma once

#include "features/theme.h"

#include <QObject>
#include <QPalette>

class QDBusVariant;

class DesktopTheme : public QObject {
    Q_OBJECT
public:
    // Asks the portal at once; its answer comes whenever it does, and the window shows the
    // system's colours meanwhile.
    DesktopTheme(QObject* parent, ThemeChoice choice);

    void setChoice(ThemeChoice choice);
    Theme shown() const { return theme; }

    // The palette the dark theme shows.
    static QPalette darkPalette();

private Q_SLOTS:
    void settingChanged(const QString& space, const QString& key, const QDBusVariant& value);

private:
    void desktopSays(const QVariant& value);
    void apply();

    ThemeChoice choice;
    DesktopScheme desktop = DesktopScheme::NoPreference;
    Theme theme = Theme::Light;
    QPalette system; // the application's palette at the start: the light theme
};
