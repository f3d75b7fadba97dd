#include "Startup.h"

namespace kartoma {

Settings startUp(SettingsStore& store, StartupWindows& windows) {
    const Settings settings = loadSettings(store);
    if (settings.showSplash) {
        windows.showSplash(settings);
    } else {
        windows.showMainWindow(settings);
    }
    return settings;
}

} // namespace kartoma
