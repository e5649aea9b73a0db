// Draws the viewer's 128 × 128 application icon at build time, so that the
// picture lives in the repository as readable code rather than as a binary:
// a page of text with a turned corner, and the quill that wrote it.
//
// Usage: draw-viewer-icon OUTPUT.png

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

constexpr int side = 128;

const QColor paper(0xfb, 0xfa, 0xf5);
const QColor fold(0xd9, 0xd5, 0xc8);
const QColor ink(0x23, 0x3f, 0x92);
const QColor lines(0x9a, 0xa8, 0xc8);

void drawPage(QPainter& painter)
{
    // The page, its upper right corner turned down.
    QPainterPath page;
    page.moveTo(22, 8);
    page.lineTo(82, 8);
    page.lineTo(106, 32);
    page.lineTo(106, 120);
    page.lineTo(22, 120);
    page.closeSubpath();
    painter.setPen(QPen(QColor(0x8a, 0x86, 0x7a), 2));
    painter.setBrush(paper);
    painter.drawPath(page);

    QPainterPath corner;
    corner.moveTo(82, 8);
    corner.lineTo(82, 32);
    corner.lineTo(106, 32);
    corner.closeSubpath();
    painter.setBrush(fold);
    painter.drawPath(corner);

    painter.setPen(QPen(lines, 4, Qt::SolidLine, Qt::RoundCap));
    for (int y = 46; y <= 94; y += 12)
        painter.drawLine(QPointF(34, y), QPointF(y == 94 ? 66 : 94, y));
}

void drawQuill(QPainter& painter)
{
    QLinearGradient fill(60, 40, 120, 110);
    fill.setColorAt(0.0, QColor(0x3d, 0x6f, 0xd8));
    fill.setColorAt(1.0, ink);
    QPainterPath vane;
    vane.moveTo(70, 112);
    vane.cubicTo(76, 86, 96, 60, 122, 52);
    vane.cubicTo(120, 78, 102, 100, 76, 112);
    vane.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPath(vane);

    painter.setPen(QPen(paper, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(72, 110), QPointF(116, 58));
    painter.setPen(QPen(ink, 3.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(72, 110), QPointF(64, 122));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw-viewer-icon OUTPUT.png\n");
        return 2;
    }
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        drawPage(painter);
        drawQuill(painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "draw-viewer-icon: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
