// QtSettingsStore: the remembered settings in QSettings, in the user's config folder
// (~/.config/Parlox/Parlox.conf).
#pragma once

#include "features/settings_store.h"

#include <QSettings>

class QtSettingsStore : public SettingsStore {
public:
    QtSettingsStore();
    std::optional<std::string> read(std::string_view key) override;
    void write(std::string_view key, std::string_view value) override;

private:
    QSettings settings;
};
