#include "monitor/qt/QtSettingsStore.h"

namespace tovak::monitor {

QtSettingsStore::QtSettingsStore() = default;

QtSettingsStore::QtSettingsStore(QString iniFilePath) : iniFilePath_(std::move(iniFilePath)) {}

std::unique_ptr<QSettings> QtSettingsStore::open() const {
    if (iniFilePath_.isEmpty()) {
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tovak"),
                                           QStringLiteral("tovak"));
    }
    return std::make_unique<QSettings>(iniFilePath_, QSettings::IniFormat);
}

std::optional<std::string> QtSettingsStore::string(const std::string& key) const {
    auto settings = open();
    const QString qtKey = QString::fromStdString(key);
    if (!settings->contains(qtKey)) {
        return std::nullopt;
    }
    const QVariant value = settings->value(qtKey);
    // A value written by hand with commas and no quotes reads as a list: put the commas back.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    }
    return value.toString().toStdString();
}

bool QtSettingsStore::setString(const std::string& key, const std::string& value) {
    auto settings = open();
    settings->setValue(QString::fromStdString(key), QString::fromStdString(value));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

bool QtSettingsStore::remove(const std::string& key) {
    auto settings = open();
    settings->remove(QString::fromStdString(key));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

}  // namespace tovak::monitor
