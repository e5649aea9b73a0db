// Draws the installer's 64 × 64 Quillmark image at build time, so that the
// picture lives in the repository as readable code rather than as a binary.
//
// Usage: draw-quillmark-image OUTPUT.png

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

constexpr int side = 64;

void drawBadge(QPainter& painter)
{
    QLinearGradient fill(0, 0, 0, side);
    fill.setColorAt(0.0, QColor(0x3d, 0x6f, 0xd8));
    fill.setColorAt(1.0, QColor(0x23, 0x3f, 0x92));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(2, 2, side - 4, side - 4), 14, 14);
}

void drawQuill(QPainter& painter)
{
    // A feather leaning to the right, its shaft ending in a nib at the lower left.
    QPainterPath vane;
    vane.moveTo(17, 47);
    vane.cubicTo(20, 30, 32, 14, 50, 11);
    vane.cubicTo(49, 27, 38, 41, 21, 47);
    vane.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xf7, 0xf4, 0xea));
    painter.drawPath(vane);

    QPen shaft(QColor(0x23, 0x3f, 0x92), 1.6, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(shaft);
    painter.drawLine(QPointF(18, 46), QPointF(46, 15));

    QPen nib(QColor(0xf7, 0xf4, 0xea), 2.4, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(nib);
    painter.drawLine(QPointF(18, 46), QPointF(13, 52));

    // The mark the quill leaves.
    QPen ink(QColor(0xf7, 0xf4, 0xea), 2.0, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(ink);
    QPainterPath stroke;
    stroke.moveTo(12, 55);
    stroke.cubicTo(22, 51, 30, 58, 40, 54);
    stroke.cubicTo(44, 52.5, 48, 52, 52, 53);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(stroke);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw-quillmark-image OUTPUT.png\n");
        return 2;
    }
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        drawBadge(painter);
        drawQuill(painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "draw-quillmark-image: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
