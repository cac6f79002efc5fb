// Draws the program's named bitmaps into PNG files:
//   DT_DEFAULT, DT_NOENTRY, DT_LOCK (48 x 48), LOCKED, UNLOCKED (16 x 16).
// Usage: make_bitmaps <output folder>
// The PNGs are kept in the repository; the build does not run this program.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <functional>

namespace {

QImage canvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The program's emblem, a white video camera, on a blue rounded square.
void drawDefault(QPainter &p)
{
    const QRectF tile(1.5, 1.5, 45, 45);
    QLinearGradient blue(0, 0, 0, 48);
    blue.setColorAt(0, QColor(0x4a, 0x8c, 0xe8));
    blue.setColorAt(1, QColor(0x1b, 0x4f, 0xb0));
    p.setPen(QPen(QColor(0x12, 0x3a, 0x86), 1));
    p.setBrush(blue);
    p.drawRoundedRect(tile, 9, 9);

    // A soft highlight over the upper half.
    QPainterPath gloss;
    gloss.addRoundedRect(QRectF(3, 3, 42, 20), 7.5, 7.5);
    QLinearGradient shine(0, 3, 0, 23);
    shine.setColorAt(0, QColor(255, 255, 255, 70));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawPath(gloss);

    // The camera: body, lens hood and two film reels.
    const QColor white(0xfb, 0xfd, 0xff);
    p.setBrush(white);
    p.drawEllipse(QRectF(10, 8.5, 10, 10));
    p.drawEllipse(QRectF(21, 8.5, 10, 10));
    p.drawRoundedRect(QRectF(8, 19, 24, 17), 3, 3);
    QPainterPath hood;
    hood.moveTo(32, 25);
    hood.lineTo(40, 20);
    hood.lineTo(40, 35);
    hood.lineTo(32, 30);
    hood.closeSubpath();
    p.drawPath(hood);

    // Reel hubs and a recording light, cut in the tile's colours.
    p.setBrush(QColor(0x2c, 0x66, 0xc8));
    p.drawEllipse(QRectF(13.5, 12, 3, 3));
    p.drawEllipse(QRectF(24.5, 12, 3, 3));
    p.setBrush(QColor(0xe5, 0x39, 0x35));
    p.drawEllipse(QRectF(11, 22, 4, 4));
}

// A red prohibition sign: a red ring crossed by a diagonal bar over a white disc.
void drawNoEntry(QPainter &p)
{
    const QPointF centre(24, 24);
    const qreal outer = 22;
    const qreal ring = 5.5;

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, outer - 1, outer - 1);

    QRadialGradient red(QPointF(18, 16), 34);
    red.setColorAt(0, QColor(0xf0, 0x3c, 0x32));
    red.setColorAt(1, QColor(0xb3, 0x12, 0x12));

    QPainterPath sign;
    sign.addEllipse(centre, outer, outer);
    QPainterPath inner;
    inner.addEllipse(centre, outer - ring, outer - ring);
    sign = sign.subtracted(inner);

    // The bar runs from upper left to lower right inside the ring.
    QPainterPath bar;
    const qreal half = ring / 2 + 0.25;
    bar.addRect(QRectF(-(outer - ring + 1), -half, 2 * (outer - ring + 1), 2 * half));
    QTransform turn;
    turn.translate(centre.x(), centre.y());
    turn.rotate(45);
    sign = sign.united(turn.map(bar).intersected(inner.united(sign)));

    p.setBrush(red);
    p.setPen(QPen(QColor(0x8c, 0x0c, 0x0c), 1));
    p.drawPath(sign.simplified());
}

// A golden padlock with a steel shackle, drawn in a 48 x 48 box.
void drawLargePadlock(QPainter &p)
{
    const QColor goldDark(0x8a, 0x62, 0x0e);
    const QColor steel(0x9a, 0xa3, 0xad);
    const QColor steelDark(0x5b, 0x63, 0x6c);

    // Shackle: a U of a thick stroke with a dark edge.
    QPainterPath shackle;
    shackle.moveTo(14.5, 22);
    shackle.lineTo(14.5, 18);
    shackle.arcTo(QRectF(14.5, 6.5, 19, 19), 180, -180);
    shackle.lineTo(33.5, 22);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(steelDark, 7, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(shackle);
    QLinearGradient metal(11, 0, 37, 0);
    metal.setColorAt(0, steel.lighter(130));
    metal.setColorAt(0.5, steel);
    metal.setColorAt(1, steelDark.lighter(110));
    p.setPen(QPen(QBrush(metal), 5, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.drawPath(shackle);

    // Body: a golden rounded block.
    const QRectF body(8.5, 20.5, 31, 25);
    QLinearGradient gold(body.topLeft(), body.bottomLeft());
    gold.setColorAt(0, QColor(0xff, 0xe5, 0x7a));
    gold.setColorAt(0.45, QColor(0xf2, 0xc1, 0x2e));
    gold.setColorAt(1, QColor(0xc4, 0x8a, 0x10));
    p.setPen(QPen(goldDark, 1));
    p.setBrush(gold);
    p.drawRoundedRect(body, 4, 4);

    // Keyhole.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x33, 0x06));
    const QPointF c(24, 30);
    p.drawEllipse(c, 2.8, 2.8);
    QPainterPath slot;
    slot.moveTo(22.6, 30);
    slot.lineTo(25.4, 30);
    slot.lineTo(26.4, 39);
    slot.lineTo(21.6, 39);
    slot.closeSubpath();
    p.drawPath(slot);
}

// A 16 x 16 padlock on whole pixels; open lifts the shackle and frees its left leg.
void drawSmallPadlock(QPainter &p, bool open)
{
    const QColor steelDark(0x4f, 0x57, 0x60);
    const qreal lift = open ? 2 : 0;

    // Shackle: legs on pixel columns 4-5 and 10-11, its top on rows 2-3 (0-1 when open).
    QPainterPath shackle;
    shackle.moveTo(5, open ? 6 : 8.5);
    shackle.lineTo(5, 6 - lift);
    shackle.arcTo(QRectF(5, 3 - lift, 6, 6), 180, -180);
    shackle.lineTo(11, 8.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(steelDark, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(shackle);

    // Body on columns 2-13, rows 8-15.
    const QRectF body(2.5, 8.5, 11, 7);
    QLinearGradient gold(body.topLeft(), body.bottomLeft());
    gold.setColorAt(0, QColor(0xff, 0xe0, 0x6a));
    gold.setColorAt(1, QColor(0xd9, 0x9a, 0x14));
    p.setPen(QPen(QColor(0x86, 0x5e, 0x0a), 1));
    p.setBrush(gold);
    p.drawRoundedRect(body, 1.2, 1.2);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x33, 0x06));
    p.drawRect(QRectF(7, 10, 2, 3));
}

bool save(const QString &folder, const char *name, int size, const std::function<void(QPainter &)> &draw)
{
    QImage image = canvas(size);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        draw(p);
    }
    const QString path = QDir(folder).filePath(QLatin1String(name) + QLatin1String(".png"));
    if (!image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
        QTextStream(stderr) << "cannot write " << path << "\n";
        return false;
    }
    QTextStream(stdout) << path << "\n";
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: make_bitmaps <output folder>\n";
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    ok &= save(folder, "DT_DEFAULT", 48, drawDefault);
    ok &= save(folder, "DT_NOENTRY", 48, drawNoEntry);
    ok &= save(folder, "DT_LOCK", 48, drawLargePadlock);
    ok &= save(folder, "LOCKED", 16, [](QPainter &p) { drawSmallPadlock(p, false); });
    ok &= save(folder, "UNLOCKED", 16, [](QPainter &p) { drawSmallPadlock(p, true); });
    return ok ? 0 : 1;
}
