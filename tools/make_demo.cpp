// ormelin-demo-assets DIR: fills DIR with objects for a demonstration, all made here: a JPEG
// picture, a 24-bit bitmap, a font in each of the two font formats, a script, a list file naming
// them, and an ormelin.ini that remembers the list.
#include "common/cp1251.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <cstdio>

namespace {

using namespace ormelin;

QImage scene(int width, int height, const QString &caption)
{
    QImage image(width, height, QImage::Format_RGB888);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(20, 40, 120));
    sky.setColorAt(1, QColor(200, 120, 40));
    p.fillRect(image.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 220, 80));
    p.drawEllipse(QPoint(width * 3 / 4, height / 3), height / 6, height / 6);
    p.setBrush(QColor(30, 90, 40));
    p.drawRect(0, height * 3 / 4, width, height / 4);
    p.setPen(Qt::white);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(height / 10);
    f.setBold(true);
    p.setFont(f);
    p.drawText(image.rect().adjusted(8, 8, -8, -8), Qt::AlignLeft | Qt::AlignTop, caption);
    return image;
}

// One glyph rendered into a width x height cell, one bit per pixel, rows padded to whole bytes,
// the leftmost pixel in bit 0.
QByteArray glyphBits(QChar c, int width, int height)
{
    QImage cell(width, height, QImage::Format_Grayscale8);
    cell.fill(0);
    QPainter p(&cell);
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setPixelSize(height - 2);
    f.setStyleStrategy(QFont::NoAntialias);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(cell.rect(), Qt::AlignCenter, QString(c));
    p.end();
    QByteArray bits;
    const int rowBytes = (width + 7) / 8;
    for (int y = 0; y < height; ++y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < width; ++x) {
            if (cell.pixelColor(x, y).value() > 127)
                row[x / 8] = char(row[x / 8] | (1 << (x % 8)));
        }
        bits += row;
    }
    return bits;
}

// A font in the Microchip graphics library's flash layout: a header (flags, first and last
// character, height), a glyph table of width and 24-bit offset per character, then the bitmaps.
QByteArray microchipFont(int width, int height, char16_t first, char16_t last)
{
    QByteArray header;
    auto put16 = [](QByteArray &b, int v) {
        b.append(char(v & 0xFF));
        b.append(char((v >> 8) & 0xFF));
    };
    put16(header, 0); // one bit per pixel, not rotated
    put16(header, first);
    put16(header, last);
    put16(header, height);
    const int count = last - first + 1;
    QByteArray table;
    QByteArray bitmaps;
    const int bitmapsStart = header.size() + count * 4;
    for (char16_t c = first; c <= last; ++c) {
        const int offset = bitmapsStart + bitmaps.size();
        table.append(char(width));
        table.append(char(offset & 0xFF));
        put16(table, offset >> 8);
        bitmaps += glyphBits(QChar(c), width, height);
    }
    return header + table + bitmaps;
}

// A monospace font: every character's cell one after another, from the blank on.
QByteArray monospaceFont(int width, int height, char16_t first, char16_t last)
{
    QByteArray bytes;
    for (char16_t c = first; c <= last; ++c)
        bytes += glyphBits(QChar(c), width, height);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: ormelin-demo-assets DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    struct Object
    {
        int number;
        int type;
        QString width, height, file;
    };
    const QList<Object> objects = {
        { 1, TypeJpeg, {}, {}, QStringLiteral("заставка.jpg") },
        { 2, TypeBitmap, {}, {}, QStringLiteral("кнопка.bmp") },
        { 10, TypeMicrochipFont, QStringLiteral("8"), QStringLiteral("12"),
            QStringLiteral("шрифт8x12.fnt") },
        { 11, TypeMonoFont, QStringLiteral("8"), QStringLiteral("16"),
            QStringLiteral("моно8x16.fnt") },
        { 20, TypeScript, {}, {}, QStringLiteral("приветствие.scr") },
    };

    bool ok = true;
    ok &= scene(320, 240, QStringLiteral("Тарвикс"))
              .save(dir.filePath(objects[0].file), "JPEG", 85);
    ok &= scene(96, 48, QStringLiteral("OK")).save(dir.filePath(objects[1].file), "BMP");
    ok &= writeFile(dir.filePath(objects[2].file), microchipFont(8, 12, u' ', u'~'));
    ok &= writeFile(dir.filePath(objects[3].file), monospaceFont(8, 16, u' ', u'~'));
    const QString script = QStringLiteral("; Приветствие\r\nCLS\r\nSHOW 1\r\nWAIT 2000\r\n"
                                          "SHOW 2 10 180\r\nTEXT 10 20 \"Привет\"\r\n");
    ok &= writeFile(dir.filePath(objects[4].file), *toCp1251(script));

    ObjectList list;
    list.setRowCount(objects.size() + 1);
    for (int i = 0; i < objects.size(); ++i) {
        const Object &o = objects[i];
        list.setCell(i + 1, ColNumber, QString::number(o.number));
        list.setCell(i + 1, ColType, objectTypeTexts().at(o.type));
        list.setCell(i + 1, ColWidth, o.width);
        list.setCell(i + 1, ColHeight, o.height);
        list.setCell(i + 1, ColFile, dir.absoluteFilePath(o.file));
    }
    const QString listPath = dir.absoluteFilePath(QStringLiteral("демо.orm"));
    ok &= listfile::write(listPath, list);
    // The settings file is read from the current directory, where the demo starts the program.
    ok &= QDir::setCurrent(dir.path()) && listfile::writeSettings(listPath);
    if (!ok) {
        std::fprintf(stderr, "could not write the demo objects into %s\n", argv[1]);
        return 1;
    }
    std::printf("%s\n", qPrintable(listPath));
    return 0;
}
