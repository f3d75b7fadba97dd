#pragma once

#include <QString>

namespace kartoma {

/// Opens files for the user in the desktop's own applications, without waiting for them.
class Launcher {
public:
    virtual ~Launcher() = default;
    /// Opens `path` in the application the desktop associates with it; the path is handed over as a
    /// whole (never through a shell). False when nothing could be started.
    virtual bool openFile(const QString& path) = 0;
};

} // namespace kartoma
