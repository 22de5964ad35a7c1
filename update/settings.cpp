#include "update/settings.h"

#include <QSettings>

namespace {

// On Linux the native format is the INI syntax in a file named ".conf"; IniFormat would read
// "flashwright.ini" instead.
QSettings UserSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("flashwright"),
                     QStringLiteral("flashwright"));
}

}  // namespace

std::string SettingsFileName() {
    return UserSettings().fileName().toStdString();
}

std::optional<std::string> SettingsValue(std::string_view key) {
    const QVariant value =
        UserSettings().value(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

std::string ConfiguredUsbXpressLibrary() {
    return SettingsValue("usbxpress/library").value_or(std::string());
}
