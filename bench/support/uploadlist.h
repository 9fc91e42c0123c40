#pragma once
// The list the write-to-flash benchmarks send, and the line they send it on: 20 objects, four of
// each type, about 2 MB of payload, made from one seed so that every run sends the same bytes.
// Needs Qt6::Gui (the JPEG pictures) and the tests' support folder on the include path.
#include "objlist/objectlist.h"
#include "payloadpictures.h"
#include "testfiles.h"
#include "testpictures.h"

#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace uploadlist {

inline constexpr int kBaud = 250000;
inline constexpr int kBitsPerByte = 11;
inline constexpr double kPacingSeconds = 0.3;
// tarviks-sim keeps up to 20 ms of line time as credit over a pause, as a line's receiver has
// bytes waiting: after each 300 ms pause it reads that much of the next object at once.
inline constexpr double kSimBurstSeconds = 0.020;

inline constexpr int kObjectsPerType = 4;
inline constexpr int kTargetPayload = 2000000;
inline constexpr int kFontBytes = 40000;
inline constexpr int kPictureWidth = 320, kPictureHeight = 240;

struct Object
{
    int type;
    QString path;
    int payload; // bytes after the frame
};

inline QByteArray randomBytes(QRandomGenerator &random, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

// Writes the objects' files into `dir`, in the order they are sent; a file that cannot be
// written ends the program, as no figure would mean anything without it.
inline QList<Object> writeObjects(const QTemporaryDir &dir)
{
    QRandomGenerator random(20240601);
    QList<Object> objects;
    const auto add = [&](int type, const QString &name, const QByteArray &bytes, int payload) {
        const QString path = dir.filePath(name);
        if (!testfiles::writeFile(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
        objects.append({ type, path, payload });
    };

    // Pictures and fonts first, then scripts sized to bring the payload to about 2 MB.
    QList<QByteArray> jpegs;
    int fixed = 0;
    for (int i = 0; i < kObjectsPerType; ++i) {
        jpegs.append(testpictures::noiseJpeg(random, kPictureWidth, kPictureHeight));
        fixed += int(jpegs.last().size()) + kPictureWidth * kPictureHeight * 2 + 2 * kFontBytes;
    }
    const int scriptBytes = std::max(1000, (kTargetPayload - fixed) / kObjectsPerType);
    for (int i = 0; i < kObjectsPerType; ++i) {
        add(ormelin::TypeJpeg, QStringLiteral("p%1.jpg").arg(i), jpegs[i], int(jpegs[i].size()));
        payloadtest::BmpLayout bmp;
        bmp.width = kPictureWidth;
        bmp.height = kPictureHeight;
        bmp.pixels = randomBytes(random, kPictureWidth * 3 * kPictureHeight);
        add(ormelin::TypeBitmap, QStringLiteral("b%1.bmp").arg(i), payloadtest::buildBmp(bmp),
            kPictureWidth * kPictureHeight * 2);
        add(ormelin::TypeMicrochipFont, QStringLiteral("m%1.fnt").arg(i),
            randomBytes(random, kFontBytes), kFontBytes);
        add(ormelin::TypeMonoFont, QStringLiteral("f%1.fnt").arg(i),
            randomBytes(random, kFontBytes), kFontBytes);
        add(ormelin::TypeScript, QStringLiteral("s%1.scr").arg(i), randomBytes(random, scriptBytes),
            scriptBytes);
    }
    return objects;
}

// One row an object, numbered on from `firstNumber`; fonts 12 wide and 16 high.
inline void fillList(ormelin::ObjectList &list, const QList<Object> &objects, int firstNumber)
{
    using namespace ormelin;
    for (int i = 0; i < objects.size(); ++i) {
        const int row = i + 1;
        list.setRowCount(row + 1);
        list.setCell(row, ColNumber, QString::number(firstNumber + i));
        list.setCell(row, ColType, objectTypeTexts().at(objects[i].type));
        if (objects[i].type == TypeMicrochipFont || objects[i].type == TypeMonoFont) {
            list.setCell(row, ColWidth, QStringLiteral("12"));
            list.setCell(row, ColHeight, QStringLiteral("16"));
        }
        list.setCell(row, ColFile, objects[i].path);
    }
}

inline qint64 payloadBytes(const QList<Object> &objects)
{
    qint64 total = 0;
    for (const Object &o : objects)
        total += o.payload;
    return total;
}

} // namespace uploadlist
