// Draws viewer/resources/camera.png, the icon of image groups. Run once when the icon changes:
//   g++ -std=c++17 -fPIC scripts/draw-camera-icon.cpp $(pkg-config --cflags --libs Qt5Gui) -o /tmp/draw-icon
//   /tmp/draw-icon viewer/resources/camera.png
#include <cstdio>

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <out.png>\n", argv[0]);
        return 2;
    }
    constexpr int kSide = 192;
    QImage image(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QColor outline(0x26, 0x32, 0x38);
    // Viewfinder hump, then the body over it.
    QPainterPath hump;
    hump.addRoundedRect(QRectF(62, 38, 68, 34), 8, 8);
    p.setPen(QPen(outline, 5));
    p.setBrush(QColor(0x54, 0x6e, 0x7a));
    p.drawPath(hump);

    QLinearGradient bodyFill(0, 56, 0, 164);
    bodyFill.setColorAt(0, QColor(0x78, 0x90, 0x9c));
    bodyFill.setColorAt(1, QColor(0x45, 0x5a, 0x64));
    p.setBrush(bodyFill);
    p.drawRoundedRect(QRectF(18, 58, 156, 104), 16, 16);

    // Shutter button and flash window.
    p.setPen(QPen(outline, 4));
    p.setBrush(QColor(0xef, 0x53, 0x50));
    p.drawRoundedRect(QRectF(30, 46, 26, 14), 4, 4);
    p.setBrush(QColor(0xff, 0xf5, 0x9d));
    p.drawRoundedRect(QRectF(140, 70, 22, 14), 3, 3);

    // Lens: ring, glass with a highlight.
    const QPointF centre(96, 112);
    p.setPen(QPen(outline, 5));
    p.setBrush(QColor(0xcf, 0xd8, 0xdc));
    p.drawEllipse(centre, 40, 40);
    QRadialGradient glass(centre + QPointF(-8, -8), 34);
    glass.setColorAt(0, QColor(0x4f, 0xc3, 0xf7));
    glass.setColorAt(1, QColor(0x01, 0x57, 0x9b));
    p.setPen(QPen(outline, 3));
    p.setBrush(glass);
    p.drawEllipse(centre, 28, 28);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(centre + QPointF(-10, -10), 8, 8);
    p.end();

    if (!image.save(argv[1], "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
