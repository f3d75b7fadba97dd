#pragma once

#include <QString>

namespace kartoma {

class Failure;
struct CatalogueOutcome;

/// The window's words for a failure: the message, then the file or folder and the system's reason
/// on lines of their own.
QString japaneseText(const Failure& failure);

} // namespace kartoma
