// GLib's headers use the name "signals", which Qt defines as a macro: they
// come first.
#include <gio/gio.h>

#include "DesktopAppearance.h"

#include <QDir>
#include <QGuiApplication>
#include <QSettings>
#include <QStandardPaths>

namespace DesktopAppearance {

namespace {

// A key of org.gnome.desktop.interface, or none where the schema or the key
// is not installed (GSettings aborts on an unknown schema, so ask first).
GVariant* gnomeInterfaceValue(const char* key)
{
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return nullptr;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema)
        return nullptr;
    GVariant* value = nullptr;
    if (g_settings_schema_has_key(schema, key)) {
        GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
        value = g_settings_get_value(settings, key);
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return value;
}

std::optional<bool> kdeReducesMotion()
{
    const QString path = QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
    if (path.isEmpty())
        return std::nullopt;
    const QSettings kde(path, QSettings::IniFormat);
    const QVariant factor = kde.value(QStringLiteral("KDE/AnimationDurationFactor"));
    if (!factor.isValid())
        return std::nullopt;
    return factor.toDouble() == 0.0;
}

} // namespace

std::optional<bool> parseSwitch(const QString& text)
{
    const QString value = text.trimmed().toLower();
    if (value == u"1" || value == u"true" || value == u"yes" || value == u"on")
        return true;
    if (value == u"0" || value == u"false" || value == u"no" || value == u"off")
        return false;
    return std::nullopt;
}

bool reduceMotion()
{
    if (const auto forced = parseSwitch(qEnvironmentVariable("VELMO_REDUCE_MOTION")))
        return *forced;
    if (GVariant* value = gnomeInterfaceValue("enable-animations")) {
        const bool animations = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
        g_variant_unref(value);
        return !animations;
    }
    return kdeReducesMotion().value_or(false);
}

std::optional<ColorScheme> preferredColorScheme()
{
    const QString forced = qEnvironmentVariable("VELMO_COLOR_SCHEME").trimmed().toLower();
    if (forced == u"dark")
        return ColorScheme::dark;
    if (forced == u"light")
        return ColorScheme::light;
    GVariant* value = gnomeInterfaceValue("color-scheme");
    if (!value)
        return std::nullopt;
    std::optional<ColorScheme> scheme;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        const QByteArray text = g_variant_get_string(value, nullptr);
        if (text == "prefer-dark")
            scheme = ColorScheme::dark;
        else if (text == "prefer-light")
            scheme = ColorScheme::light;
    }
    g_variant_unref(value);
    return scheme;
}

QPalette palette(ColorScheme scheme)
{
    // Close to the GNOME (Adwaita) window colours, which KDE's Breeze
    // resembles too.
    const bool dark = scheme == ColorScheme::dark;
    const QColor window = dark ? QColor(0x24, 0x24, 0x24) : QColor(0xFA, 0xFA, 0xFA);
    const QColor text = dark ? QColor(0xFF, 0xFF, 0xFF) : QColor(0x1E, 0x1E, 0x1E);
    const QColor base = dark ? QColor(0x1E, 0x1E, 0x1E) : QColor(0xFF, 0xFF, 0xFF);
    const QColor button = dark ? QColor(0x36, 0x36, 0x36) : QColor(0xEB, 0xEB, 0xEB);
    const QColor highlight = dark ? QColor(0x35, 0x84, 0xE4) : QColor(0x1C, 0x71, 0xD8);
    QPalette palette(text, button, button.lighter(130), button.darker(130), button.darker(115), text, text, base,
        window);
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, dark ? QColor(0x38, 0x38, 0x38) : QColor(0xFF, 0xFF, 0xFF));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, dark ? QColor(0x9A, 0x9A, 0x9A) : QColor(0x80, 0x80, 0x80));
    QColor disabled = text;
    disabled.setAlphaF(0.4f);
    for (auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(QPalette::Disabled, role, disabled);
    return palette;
}

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

void applyPreferredColorScheme()
{
    const auto scheme = preferredColorScheme();
    if (!scheme)
        return;
    if (isDark(QGuiApplication::palette()) != (*scheme == ColorScheme::dark))
        QGuiApplication::setPalette(palette(*scheme));
}

} // namespace DesktopAppearance
