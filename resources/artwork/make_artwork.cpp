// Draws the program's artwork: the six toolbar pictures, the window icon, the splash logo and the
// busy clock animation. Everything is drawn here from shapes, so the pictures can be reviewed and
// changed as code. Usage: make_artwork OUTPUT_FOLDER
//
// The clock is written as an animated GIF (the format Qt's animation player reads without plugins)
// by the small encoder below.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

QImage canvas(int w, int h, QColor fill = Qt::transparent) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(fill);
    return image;
}

void begin(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
}

QImage toExcelIcon() {
    QImage img = canvas(32, 32);
    QPainter p(&img);
    begin(p);
    p.setPen(QPen(QColor(0x1d, 0x6f, 0x42), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 3.5, 20, 25));
    p.setPen(QPen(QColor(0x1d, 0x6f, 0x42), 1));
    for (int y = 9; y <= 24; y += 5) {
        p.drawLine(QPointF(5, y + 0.5), QPointF(24, y + 0.5));
    }
    p.drawLine(QPointF(12.5, 4), QPointF(12.5, 28));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x21, 0x96, 0xf3));
    p.drawPolygon(QPolygonF({QPointF(18, 16), QPointF(25, 16), QPointF(25, 12), QPointF(31, 19),
                             QPointF(25, 26), QPointF(25, 22), QPointF(18, 22)}));
    return img;
}

QImage openIcon() {
    QImage img = canvas(32, 32);
    QPainter p(&img);
    begin(p);
    p.setPen(QPen(QColor(0x9a, 0x6a, 0x00), 1.2));
    p.setBrush(QColor(0xf2, 0xc1, 0x4e));
    p.drawPolygon(QPolygonF(
        {QPointF(3, 8), QPointF(12, 8), QPointF(14, 11), QPointF(27, 11), QPointF(27, 26), QPointF(3, 26)}));
    p.setBrush(QColor(0xfb, 0xdc, 0x8a));
    p.drawPolygon(QPolygonF({QPointF(7, 15), QPointF(31, 15), QPointF(27, 26), QPointF(3, 26)}));
    p.setPen(QPen(QColor(0x1d, 0x6f, 0x42), 1.5));
    p.drawLine(QPointF(12, 19), QPointF(24, 19));
    p.drawLine(QPointF(11, 22.5), QPointF(23, 22.5));
    return img;
}

QImage optionIcon() {
    QImage img = canvas(32, 32);
    QPainter p(&img);
    begin(p);
    QPainterPath gear;
    const QPointF c(16, 16);
    for (int i = 0; i < 16; ++i) {
        const double a = i * M_PI / 8;
        const double r = (i % 2 == 0) ? 13 : 10;
        const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        i == 0 ? gear.moveTo(pt) : gear.lineTo(pt);
    }
    gear.closeSubpath();
    gear.addEllipse(c, 4.5, 4.5);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(QColor(0x37, 0x47, 0x4f), 1));
    p.setBrush(QColor(0x90, 0xa4, 0xae));
    p.drawPath(gear);
    return img;
}

QImage helpIcon() {
    QImage img = canvas(32, 32);
    QPainter p(&img);
    begin(p);
    p.setPen(QPen(QColor(0x0d, 0x47, 0xa1), 1.5));
    p.setBrush(QColor(0x42, 0xa5, 0xf5));
    p.drawEllipse(QPointF(16, 16), 13, 13);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 9.5), 2.3, 2.3);
    p.drawRoundedRect(QRectF(14, 13.5, 4, 11), 1.5, 1.5);
    return img;
}

QImage byeIcon() {
    QImage img = canvas(32, 32);
    QPainter p(&img);
    begin(p);
    p.setPen(QPen(QColor(0x4e, 0x34, 0x2e), 1.2));
    p.setBrush(QColor(0x8d, 0x6e, 0x63));
    p.drawRect(QRectF(5.5, 3.5, 14, 25));
    p.setBrush(QColor(0xff, 0xd5, 0x4f));
    p.drawEllipse(QPointF(16, 16), 1.4, 1.4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe5, 0x39, 0x35));
    p.drawPolygon(QPolygonF({QPointF(17, 14), QPointF(24, 14), QPointF(24, 10), QPointF(31, 16.5),
                             QPointF(24, 23), QPointF(24, 19), QPointF(17, 19)}));
    return img;
}

QImage stopIcon() {
    QImage img = canvas(32, 32);
    QPainter p(&img);
    begin(p);
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const double a = M_PI / 8 + i * M_PI / 4;
        octagon << QPointF(16 + 13.5 * std::cos(a), 16 + 13.5 * std::sin(a));
    }
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(QColor(0xd3, 0x2f, 0x2f));
    p.drawPolygon(octagon);
    p.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(11, 11), QPointF(21, 21));
    p.drawLine(QPointF(21, 11), QPointF(11, 21));
    return img;
}

// The program's icon, drawn on a 64-unit square: a card with five list lines, each behind a box.
// The same shapes make the pictures of every size and the scalable icon.
constexpr double kCardX = 8, kCardY = 6, kCardW = 48, kCardH = 52, kCardRadius = 5;
constexpr double kLineStep = 8.5, kFirstLine = 16, kLineFrom = 24, kLineTo = 48, kBoxX = 14, kBoxSize = 6;
const QColor kCardEdge(0x0d, 0x47, 0xa1), kCardFill(0xe3, 0xf2, 0xfd), kLineColour(0x1d, 0x6f, 0x42),
    kBoxColour(0xf2, 0xa9, 0x00);

QImage windowIcon(int size = 64) {
    QImage img = canvas(size, size);
    QPainter p(&img);
    begin(p);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(QPen(kCardEdge, 2));
    p.setBrush(kCardFill);
    p.drawRoundedRect(QRectF(kCardX, kCardY, kCardW, kCardH), kCardRadius, kCardRadius);
    p.setPen(QPen(kLineColour, 3, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 5; ++i) {
        const double y = kFirstLine + i * kLineStep;
        p.drawLine(QPointF(kLineFrom, y), QPointF(kLineTo, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kBoxColour);
    for (int i = 0; i < 5; ++i) {
        p.drawRect(QRectF(kBoxX, kFirstLine - 3 + i * kLineStep, kBoxSize, kBoxSize));
    }
    return img;
}

QByteArray windowIconSvg() {
    QByteArray svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">\n";
    svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"%6\" "
                          "stroke=\"%7\" stroke-width=\"2\"/>\n")
               .arg(kCardX).arg(kCardY).arg(kCardW).arg(kCardH).arg(kCardRadius)
               .arg(kCardFill.name(), kCardEdge.name()).toLatin1();
    for (int i = 0; i < 5; ++i) {
        const double y = kFirstLine + i * kLineStep;
        svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"%4\" stroke-width=\"3\" "
                              "stroke-linecap=\"round\"/>\n")
                   .arg(kLineFrom).arg(y).arg(kLineTo).arg(kLineColour.name()).toLatin1();
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%3\" fill=\"%4\"/>\n")
                   .arg(kBoxX).arg(kFirstLine - 3 + i * kLineStep).arg(kBoxSize).arg(kBoxColour.name()).toLatin1();
    }
    return svg + "</svg>\n";
}

QImage logo() {
    QImage img = canvas(106, 43, Qt::black);
    QPainter p(&img);
    begin(p);
    QLinearGradient band(0, 0, 106, 0);
    band.setColorAt(0, QColor(0x1e, 0x88, 0xe5));
    band.setColorAt(1, QColor(0x43, 0xa0, 0x47));
    p.setPen(Qt::NoPen);
    p.setBrush(band);
    p.drawRoundedRect(QRectF(1, 1, 104, 41), 6, 6);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(19);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 2, 106, 30), Qt::AlignCenter, QStringLiteral("Kartoma"));
    font.setPixelSize(9);
    font.setBold(false);
    p.setFont(font);
    p.drawText(QRectF(0, 27, 106, 13), Qt::AlignCenter, QStringLiteral("folder catalogue"));
    return img;
}

/// One frame of the clock: the minute hand at `step` twelfths of a turn.
QImage clockFrame(int step) {
    QImage img = canvas(64, 64, Qt::white);
    QPainter p(&img);
    begin(p);
    p.setPen(QPen(QColor(0x37, 0x47, 0x4f), 3));
    p.setBrush(QColor(0xff, 0xf8, 0xe1));
    p.drawEllipse(QPointF(32, 32), 27, 27);
    p.setPen(QPen(QColor(0x37, 0x47, 0x4f), 2));
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6;
        p.drawLine(QPointF(32 + 22 * std::sin(a), 32 - 22 * std::cos(a)),
                   QPointF(32 + 25 * std::sin(a), 32 - 25 * std::cos(a)));
    }
    const double minute = step * M_PI / 6;
    const double hour = step * M_PI / 72;
    p.setPen(QPen(QColor(0x26, 0x32, 0x38), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 32), QPointF(32 + 12 * std::sin(hour), 32 - 12 * std::cos(hour)));
    p.setPen(QPen(QColor(0xd3, 0x2f, 0x2f), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 32), QPointF(32 + 20 * std::sin(minute), 32 - 20 * std::cos(minute)));
    p.setBrush(QColor(0x26, 0x32, 0x38));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(32, 32), 3, 3);
    return img;
}

/// An animated GIF of same-sized frames over one palette of at most 128 colours. The LZW stream is
/// kept to 8-bit codes by a clear code every 120 pixels: larger than a real encoder's, still small.
QByteArray gif(const std::vector<QImage>& frames, int delayCentiseconds) {
    std::vector<QRgb> palette;
    std::vector<std::vector<quint8>> indexed;
    for (const QImage& frame : frames) {
        std::vector<quint8> pixels;
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                // Four bits a channel is plenty for a clock face and keeps the palette small.
                const QRgb c = frame.pixel(x, y) & 0xFFF0F0F0;
                std::size_t i = 0;
                while (i < palette.size() && palette[i] != c) {
                    ++i;
                }
                if (i == palette.size() && palette.size() < 128) {
                    palette.push_back(c);
                } else if (i == palette.size()) {
                    // Palette full: the nearest colour it has.
                    int best = INT_MAX;
                    for (std::size_t k = 0; k < palette.size(); ++k) {
                        const int d = std::abs(qRed(c) - qRed(palette[k])) +
                                      std::abs(qGreen(c) - qGreen(palette[k])) +
                                      std::abs(qBlue(c) - qBlue(palette[k]));
                        if (d < best) {
                            best = d;
                            i = k;
                        }
                    }
                }
                pixels.push_back(static_cast<quint8>(i));
            }
        }
        indexed.push_back(std::move(pixels));
    }
    palette.resize(128, qRgb(0, 0, 0));
    const int w = frames.front().width();
    const int h = frames.front().height();
    QByteArray out("GIF89a");
    const auto u16 = [&](int v) {
        out.append(static_cast<char>(v & 0xFF));
        out.append(static_cast<char>((v >> 8) & 0xFF));
    };
    u16(w);
    u16(h);
    out.append(static_cast<char>(0xF6)); // global table of 2^(6+1) = 128 colours
    out.append('\0');
    out.append('\0');
    for (const QRgb c : palette) {
        out.append(static_cast<char>(qRed(c)))
            .append(static_cast<char>(qGreen(c)))
            .append(static_cast<char>(qBlue(c)));
    }
    // Loop for ever.
    out.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (const std::vector<quint8>& pixels : indexed) {
        out.append("\x21\xF9\x04\x04", 4);
        u16(delayCentiseconds);
        out.append("\x00\x00", 2);
        out.append(',');
        u16(0);
        u16(0);
        u16(w);
        u16(h);
        out.append('\0');
        out.append(static_cast<char>(7)); // minimum code size: codes start 8 bits wide
        QByteArray codes;
        const char clear = static_cast<char>(0x80);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            if (i % 120 == 0) {
                codes.append(clear);
            }
            codes.append(static_cast<char>(pixels[i]));
        }
        codes.append(static_cast<char>(0x81)); // end of information
        for (qsizetype at = 0; at < codes.size(); at += 255) {
            const QByteArray block = codes.mid(at, 255);
            out.append(static_cast<char>(block.size()));
            out.append(block);
        }
        out.append('\0');
    }
    out.append(';');
    return out;
}

bool save(const QImage& image, const QString& path) {
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_artwork OUTPUT_FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const auto path = [&](const char* name) { return folder + QLatin1Char('/') + QLatin1String(name); };
    bool ok = save(toExcelIcon(), path("toolbar-toExcel.png")) &&
              save(openIcon(), path("toolbar-open.png")) && save(optionIcon(), path("toolbar-option.png")) &&
              save(helpIcon(), path("toolbar-help.png")) && save(byeIcon(), path("toolbar-bye.png")) &&
              save(stopIcon(), path("toolbar-stop.png")) && save(windowIcon(), path("kartoma.png")) &&
              save(logo(), path("logo.png"));
    std::vector<QImage> frames;
    for (int i = 0; i < 12; ++i) {
        frames.push_back(clockFrame(i));
    }
    QFile clock(path("clock.gif"));
    ok = ok && clock.open(QIODevice::WriteOnly) && clock.write(gif(frames, 10)) > 0;
    // The icon for the desktop's menus, in the theme's sizes and scalable.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString sized = path("icons/") + QStringLiteral("%1x%1").arg(size);
        ok = ok && QDir().mkpath(sized) && save(windowIcon(size), sized + QStringLiteral("/kartoma.png"));
    }
    QFile svg(path("icons/kartoma.svg"));
    ok = ok && svg.open(QIODevice::WriteOnly) && svg.write(windowIconSvg()) > 0;
    return ok ? 0 : 1;
}
