#pragma once

#include <QString>

#include <map>
#include <memory>

class QSettings;

namespace kartoma {

/// A per-user store of text values addressed by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    /// The stored text, or `defaultValue` when the application, section or key is missing.
    virtual QString getSetting(const QString& app, const QString& section, const QString& key,
                               const QString& defaultValue) = 0;
    /// Stores `value`, creating the application, section and key as needed.
    virtual void saveSetting(const QString& app, const QString& section, const QString& key,
                             const QString& value) = 0;
};

/// The real store: one INI file per application under the user's XDG configuration folder
/// (for "Kartoma": ~/.config/Kartoma/Kartoma.ini), one INI group per section. Each file is read
/// once, at the first value asked of it, and kept open while the store lives; every save is
/// written through at once.
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    ~QSettingsStore() override;
    QString getSetting(const QString& app, const QString& section, const QString& key,
                       const QString& defaultValue) override;
    void saveSetting(const QString& app, const QString& section, const QString& key,
                     const QString& value) override;

private:
    QSettings& file(const QString& app);

    std::map<QString, std::unique_ptr<QSettings>> files_;
};

} // namespace kartoma
