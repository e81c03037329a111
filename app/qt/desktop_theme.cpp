// DesktopTheme: org.freedesktop.portal.Settings (Read, and the SettingChanged signal) for the
// org.freedesktop.appearance color-scheme, and the application's palette.
#include "app/qt/desktop_theme.h"

#include "app/qt/session_bus.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <optional>

namespace {

const QString PORTAL = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PORTAL_PATH = QStringLiteral("/org/freedesktop/portal/desktop");
const QString SETTINGS = QStringLiteral("org.freedesktop.portal.Settings");
const QString APPEARANCE = QStringLiteral("org.freedesktop.appearance");
const QString COLOR_SCHEME = QStringLiteral("color-scheme");

QColor ColourOf(Rgb rgb) {
    return QColor(rgb.red, rgb.green, rgb.blue);
}

Rgb RgbOf(const QColor& colour) {
    return {static_cast<uint8_t>(colour.red()), static_cast<uint8_t>(colour.green()),
            static_cast<uint8_t>(colour.blue())};
}

// Read wraps the value in a variant of its own, and some portals wrap it twice.
std::optional<uint32_t> SchemeValue(QVariant value) {
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    if (value.userType() != QMetaType::UInt)
        return std::nullopt;
    return value.toUInt();
}

} // namespace

DesktopTheme::DesktopTheme(QObject* parent, ThemeChoice chosen)
    : QObject(parent), choice(chosen), system(QApplication::palette()) {
    apply();
    if (!SessionBusAddressKnown())
        return;
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected())
        return;
    session.connect(PORTAL, PORTAL_PATH, SETTINGS, QStringLiteral("SettingChanged"), this,
                    SLOT(settingChanged(QDBusMessage)));
    QDBusMessage read =
        QDBusMessage::createMethodCall(PORTAL, PORTAL_PATH, SETTINGS, QStringLiteral("Read"));
    read << APPEARANCE << COLOR_SCHEME;
    auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(read), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                if (reply.isValid())
                    desktopSays(QVariant::fromValue(reply.value()));
                finished->deleteLater();
            });
}

void DesktopTheme::setChoice(ThemeChoice chosen) {
    choice = chosen;
    apply();
}

void DesktopTheme::settingChanged(const QDBusMessage& signal) {
    const QList<QVariant> arguments = signal.arguments(); // namespace, key, value
    if (arguments.size() == 3 && arguments[0].toString() == APPEARANCE &&
        arguments[1].toString() == COLOR_SCHEME)
        desktopSays(arguments[2]);
}

void DesktopTheme::desktopSays(const QVariant& value) {
    desktop = SchemeFromPortal(SchemeValue(value));
    apply();
}

void DesktopTheme::apply() {
    const Theme wanted = ThemeFor(choice, desktop);
    if (wanted == theme)
        return; // the system's theme at the start is the system's palette, untouched
    theme = wanted;
    switch (theme) {
    case Theme::System:
        QApplication::setPalette(system);
        break;
    case Theme::Light:
        QApplication::setPalette(lightPalette());
        break;
    case Theme::Dark:
        QApplication::setPalette(darkPalette());
        break;
    }
}

QPalette DesktopTheme::lightPalette() const {
    // The system's colours, each background behind a text too faint on it made readable (the
    // selection's, in the common styles).
    QPalette palette = system;
    const struct {
        QPalette::ColorRole background, text;
    } pairs[] = {{QPalette::Window, QPalette::WindowText},
                 {QPalette::Base, QPalette::Text},
                 {QPalette::Button, QPalette::ButtonText},
                 {QPalette::Highlight, QPalette::HighlightedText}};
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const auto& pair : pairs) {
            const QColor background = palette.color(group, pair.background);
            const QColor text = palette.color(group, pair.text);
            const Rgb readable = Readable(RgbOf(background), RgbOf(text));
            palette.setColor(group, pair.background, ColourOf(readable));
        }
    }
    return palette;
}

QPalette DesktopTheme::darkPalette() {
    using C = DarkColours;
    QPalette palette;
    const struct {
        QPalette::ColorRole role;
        Rgb colour;
    } roles[] = {
        {QPalette::Window, C::WINDOW},
        {QPalette::WindowText, C::TEXT},
        {QPalette::Base, C::FIELD},
        {QPalette::AlternateBase, C::WINDOW},
        {QPalette::Text, C::TEXT},
        {QPalette::Button, C::BUTTON},
        {QPalette::ButtonText, C::TEXT},
        {QPalette::BrightText, C::SELECTED_TEXT},
        {QPalette::Highlight, C::SELECTION},
        {QPalette::HighlightedText, C::SELECTED_TEXT},
        {QPalette::ToolTipBase, C::BUTTON},
        {QPalette::ToolTipText, C::TEXT},
        {QPalette::PlaceholderText, C::DISABLED},
        {QPalette::Light, C::BORDER},
        {QPalette::Midlight, C::BUTTON},
        {QPalette::Mid, C::BORDER},
        {QPalette::Dark, C::FIELD},
        {QPalette::Shadow, C::FIELD},
        {QPalette::Link, C::LINK},
        {QPalette::LinkVisited, C::LINK},
    };
    for (const auto& entry : roles)
        palette.setColor(entry.role, ColourOf(entry.colour));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, ColourOf(C::DISABLED));
    return palette;
}
