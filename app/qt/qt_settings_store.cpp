// QtSettingsStore: string values under the settings' keys; anything else reads as missing.
#include "app/qt/qt_settings_store.h"

#include "wire/formatting.h"

namespace {

QString Key(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

} // namespace

QtSettingsStore::QtSettingsStore()
    : settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Parlox"),
               QStringLiteral("Parlox")) {}

std::optional<std::string> QtSettingsStore::read(std::string_view key) {
    const QVariant value = settings.value(Key(key));
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QByteArray text = value.toString().toUtf8();
    return std::string(CutToCharBoundary(
        std::string_view(text.constData(), static_cast<size_t>(text.size())), MAX_VALUE));
}

void QtSettingsStore::write(std::string_view key, std::string_view value) {
    settings.setValue(Key(key),
                      QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
}
