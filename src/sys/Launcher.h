#pragma once

#include <QString>

#include <functional>

namespace kartoma {

/// Opens files for the user in the desktop's own applications, without waiting for them.
class Launcher {
public:
    /// Told, with the file's path, that the opener started but could not open the file.
    using Failed = std::function<void(const QString& path)>;

    virtual ~Launcher() = default;
    /// Opens `path` in the application the desktop associates with it; the path is handed over as a
    /// whole (never through a shell). False when nothing could be started. When the opener starts and
    /// then reports that no application took the file (it exits with an error), `failed` is called
    /// later from the event loop, never during this call; the call itself never waits.
    virtual bool openFile(const QString& path, Failed failed) = 0;
};

} // namespace kartoma
