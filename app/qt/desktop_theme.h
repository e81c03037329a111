// DesktopTheme: the window's light or dark colours, as the user chose or as the desktop prefers
// (the settings portal's color-scheme, read at the start and followed while the program runs).
#pragma once

#include "features/theme.h"

#include <QDBusMessage>
#include <QObject>
#include <QPalette>

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
    // The palette the light theme shows: the system's, every text readable.
    QPalette lightPalette() const;

private Q_SLOTS:
    void settingChanged(const QDBusMessage& signal);

private:
    void desktopSays(const QVariant& value);
    void apply();

    ThemeChoice choice;
    DesktopScheme desktop = DesktopScheme::NoPreference;
    Theme theme = Theme::System;
    QPalette system; // the application's palette at the start
};
