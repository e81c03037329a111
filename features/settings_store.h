// SettingsStore: where the remembered settings live (QSettings on Linux; the registry or a
// portable ini file on Windows). Each front-end gives one; tests give one that records.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The value stored under key, or nothing when there is none or it cannot be read. A store
    // may cut what it reads at MAX_VALUE bytes.
    virtual std::optional<std::string> read(std::string_view key) = 0;
    // Best effort: a store that cannot be written keeps nothing, and says nothing.
    virtual void write(std::string_view key, std::string_view value) = 0;

    static constexpr size_t MAX_VALUE = 4096;
};
