#pragma once

#include <QString>

namespace kartoma {

/// The system's text for an errno value.
QString systemErrorText(int errnum);

} // namespace kartoma
