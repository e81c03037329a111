// The remembered settings: a first start, a round trip, and garbage in the store.
#include "features/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// A store that keeps what it is given, as any store would.
struct MapStore : SettingsStore {
    std::map<std::string, std::string, std::less<>> values;
    std::optional<std::string> read(std::string_view key) override {
        const auto found = values.find(key);
        if (found == values.end())
            return std::nullopt;
        return found->second;
    }
    void write(std::string_view key, std::string_view value) override {
        values[std::string(key)] = std::string(value);
    }
};

TEST(SettingsTest, FirstStartGivesTheWindowsDefaults) {
    MapStore empty;
    const Settings settings = LoadSettings(empty);
    EXPECT_EQ(settings.name, "<name>");
    EXPECT_EQ(settings.address, "localhost");
    EXPECT_EQ(settings.port, "5000");
    EXPECT_EQ(settings.notify, NotifyMode::EveryLine);
    EXPECT_FALSE(settings.showTimes);
    EXPECT_FALSE(settings.keepTranscripts);
    EXPECT_TRUE(settings.announce);
    EXPECT_FALSE(settings.sound);
    EXPECT_FALSE(settings.keepInNotificationArea);
    EXPECT_EQ(settings.theme, ThemeChoice::FollowDesktop);
}

TEST(SettingsTest, RoundTrip) {
    MapStore store;
    Settings settings;
    settings.name = "Zo\xC3\xAB";
    settings.address = "chat.example.org";
    settings.port = "6000";
    settings.notify = NotifyMode::Mentions;
    settings.showTimes = true;
    settings.keepTranscripts = true;
    settings.announce = false;
    settings.sound = true;
    settings.keepInNotificationArea = true;
    settings.theme = ThemeChoice::Dark;
    SaveSettings(store, settings);
    EXPECT_EQ(LoadSettings(store), settings);
    EXPECT_EQ(store.values["notify"], "mentions");
    EXPECT_EQ(store.values["theme"], "dark");
    EXPECT_EQ(store.values["announce"], "false");
    settings.notify = NotifyMode::None;
    SaveSettings(store, settings);
    EXPECT_EQ(LoadSettings(store).notify, NotifyMode::None);
}

TEST(SettingsTest, GarbageIsIgnoredOrCut) {
    MapStore store;
    store.values = {{"name", std::string(10 * 1024 * 1024, 'n')},
                    {"address", "host\nname"},
                    {"port", "abc"},
                    {"notify", "always"},
                    {"showTimes", "TRUE"},
                    {"keepTranscripts", "1"},
                    {"announce", "no"},
                    {"theme", "Dark"}};
    Settings settings = LoadSettings(store);
    EXPECT_EQ(settings.name, std::string(99, 'n'));
    EXPECT_EQ(settings.address, "host");
    EXPECT_EQ(settings.port, "5000");
    EXPECT_EQ(settings.notify, NotifyMode::EveryLine);
    EXPECT_FALSE(settings.showTimes);
    EXPECT_FALSE(settings.keepTranscripts);
    EXPECT_TRUE(settings.announce);
    EXPECT_EQ(settings.theme, ThemeChoice::FollowDesktop);

    for (const char* port : {"", "65536", "123456", "-1", " 80", "99999"}) {
        store.values["port"] = port;
        EXPECT_EQ(LoadSettings(store).port, "5000") << port;
    }
    store.values["port"] = "65535";
    EXPECT_EQ(LoadSettings(store).port, "65535");
    // A name cut at its limit keeps its last character whole.
    store.values["name"] = std::string(98, 'a') + "\xC3\xA9";
    EXPECT_EQ(LoadSettings(store).name, std::string(98, 'a'));
}

} // namespace
