// Reading and writing the remembered settings, each value checked before it is used.
#include "features/settings.h"

#include "chat/program_state.h"
#include "wire/formatting.h"

#include <algorithm>
#include <optional>

namespace {

constexpr const char* NOTIFY_WORDS[] = {"every-line", "mentions", "none"};
constexpr const char* THEME_WORDS[] = {"follow-desktop", "light", "dark"};

// The settings that are on or off, each under its key.
struct Flag {
    const char* key;
    bool Settings::*value;
};
constexpr Flag FLAGS[] = {
    {SETTING_SHOW_TIMES, &Settings::showTimes},
    {SETTING_KEEP_TRANSCRIPTS, &Settings::keepTranscripts},
    {SETTING_ANNOUNCE, &Settings::announce},
    {SETTING_SOUND, &Settings::sound},
    {SETTING_KEEP_IN_NOTIFICATION_AREA, &Settings::keepInNotificationArea},
};

// The choice whose word (as the enum's order lists them) the store holds, else fallback.
template <typename Choice, size_t N>
Choice ChoiceValue(const std::optional<std::string>& stored, const char* const (&words)[N],
                   Choice fallback) {
    for (size_t i = 0; i < N; ++i) {
        if (stored == words[i])
            return static_cast<Choice>(i);
    }
    return fallback;
}

std::optional<std::string> FieldValue(const std::optional<std::string>& stored) {
    if (!stored)
        return std::nullopt;
    const auto control = std::find_if(stored->begin(), stored->end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    const std::string_view text(stored->data(), static_cast<size_t>(control - stored->begin()));
    return std::string(CutToCharBoundary(text, FIELD_LIMIT));
}

std::optional<std::string> PortValue(const std::optional<std::string>& stored) {
    if (!stored || stored->empty() || stored->size() > 5)
        return std::nullopt;
    if (!std::all_of(stored->begin(), stored->end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (std::stoul(*stored) > 65535)
        return std::nullopt;
    return stored;
}

std::optional<bool> FlagValue(const std::optional<std::string>& stored) {
    if (stored == "true")
        return true;
    if (stored == "false")
        return false;
    return std::nullopt;
}

} // namespace

Settings LoadSettings(SettingsStore& store) {
    Settings settings;
    settings.name = FieldValue(store.read(SETTING_NAME)).value_or(settings.name);
    settings.address = FieldValue(store.read(SETTING_ADDRESS)).value_or(settings.address);
    settings.port = PortValue(store.read(SETTING_PORT)).value_or(settings.port);
    settings.notify = ChoiceValue(store.read(SETTING_NOTIFY), NOTIFY_WORDS, settings.notify);
    settings.theme = ChoiceValue(store.read(SETTING_THEME), THEME_WORDS, settings.theme);
    for (const Flag& flag : FLAGS)
        settings.*flag.value = FlagValue(store.read(flag.key)).value_or(settings.*flag.value);
    return settings;
}

void SaveSettings(SettingsStore& store, const Settings& settings) {
    store.write(SETTING_NAME, CutToCharBoundary(settings.name, FIELD_LIMIT));
    store.write(SETTING_ADDRESS, CutToCharBoundary(settings.address, FIELD_LIMIT));
    store.write(SETTING_PORT, CutToCharBoundary(settings.port, FIELD_LIMIT));
    store.write(SETTING_NOTIFY, NOTIFY_WORDS[static_cast<size_t>(settings.notify)]);
    store.write(SETTING_THEME, THEME_WORDS[static_cast<size_t>(settings.theme)]);
    for (const Flag& flag : FLAGS)
        store.write(flag.key, settings.*flag.value ? "true" : "false");
}
