#pragma once

#include "SplashAnimation.h"

#include <QWidget>

#include <functional>

class QLabel;
class QTimer;

namespace kartoma {

/// The splash: black and captionless; assembles the logo from its tiles over 51 frames, holds it for
/// a second, then closes and hands over to the main window, exactly once.
class SplashWindow final : public QWidget {
public:
    /// `showMainWindow` is called once, in the tick after the hold.
    SplashWindow(std::function<void()> showMainWindow, QWidget* parent = nullptr);

    int stepCount() const { return stepCount_; }
    bool finished() const { return finished_; }
    const QImage& surface() const { return surface_; }
    const SplashAnimation& animation() const { return animation_; }
    /// One tick of the timer (the timer calls it; tests may too).
    void tick();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void()> showMainWindow_;
    SplashAnimation animation_;
    QImage logo_;
    QImage surface_;
    QTimer* timer_;
    QLabel* notice_;
    int stepCount_ = 0;
    bool finished_ = false;
    bool handedOver_ = false;
};

} // namespace kartoma
