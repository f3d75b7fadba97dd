#pragma once

#include "Settings.h"

namespace kartoma {

class SettingsStore;

/// What start-up hands the options to: the splash window or the main window.
class StartupWindows {
public:
    virtual ~StartupWindows() = default;
    /// Shows the splash, which later hands over to the main window.
    virtual void showSplash(const Settings& settings) = 0;
    /// Shows the main window directly.
    virtual void showMainWindow(const Settings& settings) = 0;
};

/// Start-up: reads the eight options from the store and shows the splash when `showSplash` is on, the
/// main window otherwise. Returns the options it read.
Settings startUp(SettingsStore& store, StartupWindows& windows);

} // namespace kartoma
