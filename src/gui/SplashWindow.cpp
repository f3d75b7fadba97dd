#include "SplashWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRandomGenerator>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace kartoma {

SplashWindow::SplashWindow(std::function<void()> showMainWindow, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      showMainWindow_(std::move(showMainWindow)) {
    setObjectName(QStringLiteral("splashWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setStyleSheet(QStringLiteral("background-color: black;"));

    // The logo, 106 x 43, cut into tiles that lie on a grid of 135 x 50, drawn in pixels.
    logo_ = QImage(QStringLiteral(":/artwork/logo.png")).convertToFormat(QImage::Format_RGB32);
    surface_ = QImage(QSize(281, 117), QImage::Format_RGB32);
    surface_.fill(Qt::black);

    notice_ = new QLabel(QStringLiteral("Kartoma %1").arg(QStringLiteral(KARTOMA_VERSION)));
    notice_->setObjectName(QStringLiteral("versionLabel"));
    notice_->setAlignment(Qt::AlignCenter);
    QFont font(QStringLiteral("Arial Narrow"));
    font.setPointSizeF(9.75);
    notice_->setFont(font);
    notice_->setStyleSheet(QStringLiteral("color: white; background-color: black;"));

    // The drawing, and the version under the right half of the logo.
    notice_->setMinimumWidth(119);
    auto* versionRow = new QHBoxLayout;
    versionRow->addSpacing(108);
    versionRow->addWidget(notice_);
    versionRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(0, 0, 5, 12);
    layout->setSpacing(7);
    layout->addItem(
        new QSpacerItem(surface_.width(), surface_.height(), QSizePolicy::Fixed, QSizePolicy::Fixed));
    layout->addLayout(versionRow);
    adjustSize();
    if (const QScreen* screen = this->screen()) {
        move(screen->geometry().center() - rect().center());
    }

    // A fresh seed each start.
    QRandomGenerator random(static_cast<quint32>(QRandomGenerator::system()->generate()));
    animation_.scatter([&random] { return random.generateDouble(); });

    // The spiral was paced by the smallest timer interval, which ticked at the system timer's
    // resolution of about 15.6 ms; a 1 ms timer here really ticks every millisecond and the spiral
    // would be over before it is seen, so the frames keep that pace.
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(16);
    connect(timer_, &QTimer::timeout, this, &SplashWindow::tick);
    timer_->start();
}

void SplashWindow::tick() {
    if (finished_) {
        if (!handedOver_) {
            handedOver_ = true;
            timer_->stop();
            close();
            showMainWindow_();
        }
        return;
    }
    animation_.drawFrame(surface_, logo_, stepCount_);
    update();
    ++stepCount_;
    if (stepCount_ > SplashAnimation::kLastStep) {
        timer_->setInterval(1000);
        finished_ = true;
    }
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.drawImage(0, 0, surface_);
}

} // namespace kartoma
