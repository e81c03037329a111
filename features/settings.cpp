// Reading and writing the remembered settings, each value checked before it is used.
#include "features/settings.h"

#include "chat/program_state.h"
#include "wire/formatting.h"

#include <algorithm>
#include <optional>

namespace {

constexpr const char* NOTIFY_WORDS[] = {"every-line", "mentions", "none"};

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
    const std::optional<std::string> notify = store.read(SETTING_NOTIFY);
    for (size_t i = 0; i < std::size(NOTIFY_WORDS); ++i) {
        if (notify == NOTIFY_WORDS[i])
            settings.notify = static_cast<NotifyMode>(i);
    }
    settings.showTimes = FlagValue(store.read(SETTING_SHOW_TIMES)).value_or(settings.showTimes);
    settings.keepTranscripts =
        FlagValue(store.read(SETTING_KEEP_TRANSCRIPTS)).value_or(settings.keepTranscripts);
    return settings;
}

void SaveSettings(SettingsStore& store, const Settings& settings) {
    store.write(SETTING_NAME, CutToCharBoundary(settings.name, FIELD_LIMIT));
    store.write(SETTING_ADDRESS, CutToCharBoundary(settings.address, FIELD_LIMIT));
    store.write(SETTING_PORT, CutToCharBoundary(settings.port, FIELD_LIMIT));
    store.write(SETTING_NOTIFY, NOTIFY_WORDS[static_cast<size_t>(settings.notify)]);
    store.write(SETTING_SHOW_TIMES, settings.showTimes ? "true" : "false");
    store.write(SETTING_KEEP_TRANSCRIPTS, settings.keepTranscripts ? "true" : "false");
}
