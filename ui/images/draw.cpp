// Draws the application's artwork. The PNGs are committed next to this file; rebuild them with
// the command in README.md after changing anything here. Everything is plain QPainter geometry
// so the output is the same on every run and needs no design tool.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cmath>
#include <cstdio>

namespace {

const QColor kInk(0x37, 0x47, 0x4f); // dark blue-grey used for toolbar glyphs
const QColor kDeep(0x12, 0x3a, 0x6b);
const QColor kTeal(0x1f, 0x9e, 0xa8);
const QColor kRecord(0xef, 0x53, 0x50);

// The app mark: lens ring with a play triangle and a red "live" dot, on a blue-teal tile.
// Coordinates are in a 100x100 design box; the painter is scaled for other sizes.
void drawAppMark(QPainter &p, bool roundedTile)
{
    QLinearGradient bg(0, 0, 100, 100);
    bg.setColorAt(0, kTeal);
    bg.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    if (roundedTile)
        p.drawRoundedRect(QRectF(4, 4, 92, 92), 20, 20);
    else
        p.drawRect(QRectF(0, 0, 100, 100)); // opaque RGB icon: no corners to leave empty

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 7));
    p.drawEllipse(QPointF(50, 52), 27, 27);

    QPainterPath play;
    play.moveTo(42, 38);
    play.lineTo(65, 52);
    play.lineTo(42, 66);
    play.closeSubpath();
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(play);

    p.setPen(QPen(Qt::white, 3));
    p.setBrush(kRecord);
    p.drawEllipse(QPointF(77, 24), 9, 9);
}

QImage appIcon(int size, QImage::Format format, bool roundedTile)
{
    QImage img(size, size, format);
    img.fill(roundedTile ? Qt::transparent : Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 100.0, size / 100.0);
    drawAppMark(p, roundedTile);
    return img;
}

QImage banner()
{
    QImage img(500, 279, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);

    QLinearGradient bg(0, 0, 500, 279);
    bg.setColorAt(0, QColor(0x0e, 0x2a, 0x4f));
    bg.setColorAt(1, QColor(0x17, 0x6f, 0x86));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(0, 0, 500, 279), 18, 18);

    // Soft glow behind the mark, then a few faint scan lines for texture.
    QRadialGradient glow(QPointF(110, 125), 120);
    glow.setColorAt(0, QColor(255, 255, 255, 50));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(glow);
    p.drawEllipse(QPointF(110, 125), 120, 120);
    p.setPen(QPen(QColor(255, 255, 255, 18), 2));
    for (int y = 200; y < 279; y += 12)
        p.drawLine(QPointF(0, y), QPointF(500, y - 40));

    p.save();
    p.translate(50, 65);
    p.scale(1.2, 1.2);
    drawAppMark(p, true);
    p.restore();

    QFont title("DejaVu Sans");
    title.setBold(true);
    title.setPixelSize(32);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(200, 78, 290, 90), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
        QStringLiteral("Lumexor\nCapture Config"));

    QFont tag("DejaVu Sans");
    tag.setPixelSize(15);
    p.setFont(tag);
    p.setPen(QColor(0xcf, 0xe8, 0xee));
    p.drawText(QRectF(200, 172, 290, 24), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("Norby USB 3 capture devices"));
    return img;
}

QImage reloadGlyph()
{
    QImage img(400, 400, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Thick open ring (gap on the right) so it still reads as a circle at 24x24. Angles follow
    // Qt's convention: degrees, counter-clockwise from three o'clock.
    const QPointF c(200, 205);
    const double r = 125, start = 60;
    p.setPen(QPen(kInk, 60, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), int(start * 16), 285 * 16);

    // Arrow head on the 60 degree end, pointing clockwise along the ring.
    const double a = qDegreesToRadians(start);
    const QPointF end(c.x() + r * std::cos(a), c.y() - r * std::sin(a));
    const QPointF radial(std::cos(a), -std::sin(a)); // outwards
    const QPointF ahead(std::sin(a), std::cos(a)); // clockwise tangent on screen
    QPainterPath head;
    head.moveTo(end + 72 * radial);
    head.lineTo(end + 80 * ahead);
    head.lineTo(end - 72 * radial);
    head.closeSubpath();
    p.setPen(QPen(kInk, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kInk);
    p.drawPath(head);
    return img;
}

QImage folderGlyph()
{
    QImage img(400, 400, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor edge(0xb9, 0x7a, 0x10);

    // Back panel with the tab.
    QPainterPath back;
    back.moveTo(40, 92);
    back.lineTo(150, 92);
    back.lineTo(182, 124);
    back.lineTo(360, 124);
    back.lineTo(360, 330);
    back.lineTo(40, 330);
    back.closeSubpath();
    p.setPen(QPen(edge, 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xe8, 0xa3, 0x24));
    p.drawPath(back);

    // Front panel, lighter, slightly lower, so the opening is visible even at small sizes.
    QLinearGradient front(0, 160, 0, 330);
    front.setColorAt(0, QColor(0xff, 0xd2, 0x6a));
    front.setColorAt(1, QColor(0xf6, 0xb8, 0x3c));
    p.setBrush(front);
    p.drawRoundedRect(QRectF(40, 162, 320, 168), 10, 10);
    return img;
}

// The app mark of drawAppMark (rounded tile) as SVG, in the same 100x100 design box, for the
// scalable icon: the same shapes written out, since Qt Gui alone has no SVG writer.
QByteArray appIconSvg()
{
    const auto hex = [](const QColor &c) { return c.name().toLatin1(); };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"100\" height=\"100\" "
           "viewBox=\"0 0 100 100\">\n"
           "  <defs>\n"
           "    <linearGradient id=\"tile\" x1=\"0\" y1=\"0\" x2=\"100\" y2=\"100\" "
           "gradientUnits=\"userSpaceOnUse\">\n"
           "      <stop offset=\"0\" stop-color=\""
        + hex(kTeal)
        + "\"/>\n"
          "      <stop offset=\"1\" stop-color=\""
        + hex(kDeep)
        + "\"/>\n"
          "    </linearGradient>\n"
          "  </defs>\n"
          "  <rect x=\"4\" y=\"4\" width=\"92\" height=\"92\" rx=\"20\" "
          "fill=\"url(#tile)\"/>\n"
          "  <circle cx=\"50\" cy=\"52\" r=\"27\" fill=\"none\" stroke=\"#ffffff\" "
          "stroke-width=\"7\"/>\n"
          "  <path d=\"M42 38L65 52L42 66Z\" fill=\"#ffffff\" stroke=\"#ffffff\" "
          "stroke-width=\"3\" stroke-linejoin=\"round\"/>\n"
          "  <circle cx=\"77\" cy=\"24\" r=\"9\" fill=\""
        + hex(kRecord)
        + "\" stroke=\"#ffffff\" stroke-width=\"3\"/>\n"
          "</svg>\n";
}

bool write(const QByteArray &bytes, const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

bool save(const QImage &img, const QString &dir, const char *name)
{
    const QString path = QDir(dir).filePath(QString::fromLatin1(name));
    if (img.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <images-dir> [hicolor-icon-dir]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString iconDir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : out;
    QDir().mkpath(out);
    QDir().mkpath(iconDir);

    // The 100px icon is stored without alpha (RGB888 saves as PNG colour type 2).
    bool ok = save(appIcon(100, QImage::Format_RGB888, false), out, "appicon.png");
    ok = save(banner(), out, "banner.png") && ok;
    ok = save(reloadGlyph(), out, "reload.png") && ok;
    ok = save(folderGlyph(), out, "folder.png") && ok;
    // The freedesktop icon theme's sizes, hicolor/<size>/apps, and the scalable one.
    for (const int size : {48, 64, 128, 256}) {
        const QString apps = QString("%1/hicolor/%2x%2/apps").arg(iconDir).arg(size);
        QDir().mkpath(apps);
        ok = save(appIcon(size, QImage::Format_ARGB32, true), apps, "lumexor-capture-config.png")
            && ok;
    }
    QDir().mkpath(iconDir + "/hicolor/scalable/apps");
    ok = write(appIconSvg(), iconDir + "/hicolor/scalable/apps/lumexor-capture-config.svg") && ok;
    return ok ? 0 : 1;
}
