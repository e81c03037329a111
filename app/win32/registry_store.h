// RegistryStore: the remembered settings as string values under HKEY_CURRENT_USER\Software\Parlox.
#pragma once

#include "features/settings_store.h"

class RegistryStore : public SettingsStore {
public:
    static constexpr const wchar_t* KEY = L"Software\\Parlox";

    std::optional<std::string> read(std::string_view key) override;
    void write(std::string_view key, std::string_view value) override;
};
