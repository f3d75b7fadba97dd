#include "SplashAnimation.h"

#include <QPainter>

#include <cmath>

namespace kartoma {

void SplashAnimation::scatter(const std::function<double()>& random) {
    for (int i = 0; i < kColumns; ++i) {
        for (int j = 0; j < kRows; ++j) {
            radius_[i][j] = static_cast<std::int16_t>(std::floor(random() * 150));
            angle_[i][j] = static_cast<std::int16_t>(std::floor(random() * 360));
        }
    }
}

int SplashAnimation::tileAngle(int i, int j, int step) const {
    // Each frame adds 10 and wraps past 359; after step + 1 frames that is the start plus
    // 10 (step + 1), modulo 360.
    return (angle_[i][j] + 10 * (step + 1)) % 360;
}

QPoint SplashAnimation::tilePosition(int i, int j, int step) const {
    const double theta = tileAngle(i, j, step) * 3.1415926535 / 180;
    const double d = static_cast<double>((kLastStep - step) * radius_[i][j]) / kLastStep;
    // nearbyint rounds half to even in the default rounding mode.
    const int y = static_cast<int>(std::nearbyint(d * std::sin(theta) + (kTile * j + 40)));
    const int x = static_cast<int>(std::nearbyint(d * std::cos(theta) + (kTile * i + 80)));
    return QPoint(x, y);
}

void SplashAnimation::drawFrame(QImage& surface, const QImage& logo, int step) const {
    surface.fill(Qt::black);
    QPainter painter(&surface);
    for (int i = 0; i < kColumns; ++i) {
        for (int j = 0; j < kRows; ++j) {
            const QPoint at = tilePosition(i, j, step);
            painter.fillRect(QRect(at, QSize(kTile, kTile)), Qt::black);
            painter.drawImage(at, logo, QRect(kTile * i, kTile * j, kTile, kTile));
        }
    }
}

} // namespace kartoma
