#pragma once

#include <QImage>
#include <QPoint>

#include <array>
#include <cstdint>
#include <functional>

namespace kartoma {

/// The splash's tile animation without a window: the logo cut into 27 x 10 tiles of 5 x 5 pixels
/// that spiral in from random places over 51 frames and stand at home in the last one.
class SplashAnimation {
public:
    static constexpr int kColumns = 27;
    static constexpr int kRows = 10;
    static constexpr int kTile = 5;
    static constexpr int kLastStep = 50;

    /// Scatters the tiles: for each tile, column by column, a radius (0 to 149 pixels) and an angle
    /// (0 to 359 degrees), each the whole part of `random()` (uniform in [0, 1)) times 150 or 360.
    void scatter(const std::function<double()>& random);

    /// Where tile (i, j) lies in frame `step` (0 to 50): its angle turned by 10 degrees per frame
    /// (wrapped to 0..359), its distance from home (5i + 80, 5j + 40) shrinking by a fiftieth of its
    /// radius per frame, each coordinate rounded half to even.
    QPoint tilePosition(int i, int j, int step) const;
    /// The tile's angle in frame `step`, after that frame's turn.
    int tileAngle(int i, int j, int step) const;

    /// Draws frame `step` onto `surface`: black, then each tile's 5 x 5 block of `logo` at its place,
    /// later tiles over earlier ones; what lies beyond the logo is black.
    void drawFrame(QImage& surface, const QImage& logo, int step) const;

    std::int16_t radius(int i, int j) const { return radius_[i][j]; }
    std::int16_t angle(int i, int j) const { return angle_[i][j]; }

private:
    std::array<std::array<std::int16_t, kRows>, kColumns> radius_{};
    std::array<std::array<std::int16_t, kRows>, kColumns> angle_{};
};

} // namespace kartoma
