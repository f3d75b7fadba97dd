#pragma once

#include <QString>

namespace kartoma {

/// The window-facing steps of the writers: status text, progress bar, busy display, toolbar, window
/// state, pointer and the cancellation point. The main window implements it with its widgets; the command line
/// with its progress line. The writers never see a widget.
class WriterDisplay {
public:
    virtual ~WriterDisplay() = default;
    virtual void setStatusText(const QString& text) = 0;
    /// The progress bar: range, value and visibility.
    virtual void setProgressRange(double minimum, double maximum) = 0;
    virtual void setProgressValue(double value) = 0;
    virtual void setProgressVisible(bool visible) = 0;
    /// Starts (true) or stops the busy display; stopping also blanks the status text.
    virtual void showBusy(bool on) = 0;
    /// Puts the toolbar back to its idle state: exit enabled, stop hidden and disabled.
    virtual void setToolbarIdle() = 0;
    /// A minimised window is restored, repainted and the system beeps.
    virtual void restoreIfMinimised() = 0;
    /// Sets the application's pointer back to the default arrow.
    virtual void setDefaultPointer() = 0;
    /// Repaints the window at once.
    virtual void refresh() = 0;
    /// The cancellation point, once per row: throws the stop's failure when the command was stopped.
    /// Called from the command's worker; cheap.
    virtual void yieldNow() = 0;
};

} // namespace kartoma
