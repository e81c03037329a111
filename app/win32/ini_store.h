// IniStore: the remembered settings in an ini file (parlox.ini beside a portable parlox.exe),
// section [Parlox].
#pragma once

#include "features/settings_store.h"

#include <string>

class IniStore : public SettingsStore {
public:
    explicit IniStore(std::wstring path);

    std::optional<std::string> read(std::string_view key) override;
    void write(std::string_view key, std::string_view value) override;

private:
    std::wstring path;
};
