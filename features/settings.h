// Settings: what the window remembers between starts, with its defaults, and how it is read from
// and written to a SettingsStore.
#pragma once

#include "commands/control_table.h"
#include "features/notify_mode.h"
#include "features/settings_store.h"
#include "features/theme.h"

#include <string>

struct Settings {
    // A first start shows the fields as the window's table has them.
    std::string name = InitialText(IDC_NAME);
    std::string address = InitialText(IDC_ADDRESS);
    std::string port = InitialText(IDC_PORT);
    NotifyMode notify = NotifyMode::EveryLine;
    bool showTimes = false;
    bool keepTranscripts = false;
    bool announce = true; // costs nothing without a screen reader
    bool sound = false;
    bool keepInNotificationArea = false;
    ThemeChoice theme = ThemeChoice::FollowDesktop;

    bool operator==(const Settings&) const = default;
};

// The store's keys.
inline constexpr const char* SETTING_NAME = "name";
inline constexpr const char* SETTING_ADDRESS = "address";
inline constexpr const char* SETTING_PORT = "port";
inline constexpr const char* SETTING_NOTIFY = "notify";
inline constexpr const char* SETTING_SHOW_TIMES = "showTimes";
inline constexpr const char* SETTING_KEEP_TRANSCRIPTS = "keepTranscripts";
inline constexpr const char* SETTING_ANNOUNCE = "announce";
inline constexpr const char* SETTING_SOUND = "sound";
inline constexpr const char* SETTING_KEEP_IN_NOTIFICATION_AREA = "keepInNotificationArea";
inline constexpr const char* SETTING_THEME = "theme";

// Each value the store holds and that reads well; the default for every other. A name or address
// keeps its first FIELD_LIMIT bytes up to any control character; a port is 1 to 5 digits up to
// 65535; a choice is one of its words ("every-line", "mentions", "none"; "follow-desktop",
// "light", "dark"; "true", "false").
Settings LoadSettings(SettingsStore& store);
void SaveSettings(SettingsStore& store, const Settings& settings);
