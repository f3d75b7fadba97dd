#pragma once

#include <QString>

namespace kartoma {

class Failure;

/// The command line's words for a failure: "cannot create output file FILE: reason".
QString englishText(const Failure& failure);

} // namespace kartoma
