#pragma once

#include "Failure.h"
#include "WorkbookError.h"

namespace kartoma {

static_assert(static_cast<int>(FailureCode::TemplateMissing) == static_cast<int>(WorkbookErrorCode::BookMissing));
static_assert(static_cast<int>(FailureCode::CatalogueTooLarge) == static_cast<int>(WorkbookErrorCode::TooLarge));

/// The engine's error as a command failure: the codes share their numbers.
inline Failure failureOf(const WorkbookError& error) {
    return Failure(static_cast<FailureCode>(static_cast<int>(error.code())), error.subject(), error.detail());
}

/// Runs `step`; an engine error leaves it as the command failure it stands for.
template <typename Step> decltype(auto) translatingWorkbookErrors(Step&& step) {
    try {
        return step();
    } catch (const WorkbookError& error) {
        throw failureOf(error);
    }
}

} // namespace kartoma
