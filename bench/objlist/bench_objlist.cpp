// Loads and saves a list of 1,319 rows, the largest a list file holds, and compares each with a
// plain read or write of the same bytes. Prints median and best times over many runs.
//   bench_objlist [runs] [load|save]
#include "common/cp1251.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"
#include "objlist/objectlistmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace ormelin;

namespace {

struct Timing
{
    double medianUs;
    double bestUs;
};

Timing measure(int runs, const std::function<void()> &work)
{
    work(); // warm the page cache and the allocator
    std::vector<double> us;
    us.reserve(size_t(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        us.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    std::sort(us.begin(), us.end());
    return { us[us.size() / 2], us.front() };
}

// A list the way an operator builds one: pictures, fonts with sizes, scripts, a few free rows.
void fillRealistic(ObjectList &list)
{
    list.setRowCount(listfile::kMaxRowCount);
    const QStringList &types = objectTypeTexts();
    for (int r = 1; r < list.rowCount(); ++r) {
        if (r % 97 == 0)
            continue;
        const int type = r % kObjectTypeCount;
        list.setCell(r, ColNumber, QString::number(r - 1));
        list.setCell(r, ColType, types[type]);
        if (isFontTypeText(types[type])) {
            list.setCell(r, ColWidth, QString::number(8 + r % 8));
            list.setCell(r, ColHeight, QString::number(12 + r % 12));
        }
        list.setCell(r, ColFile,
            QStringLiteral("/home/оператор/Тарвикс/ресурсы/объект_%1.%2")
                .arg(r, 4, 10, QLatin1Char('0'))
                .arg(type == 0      ? "jpg"
                        : type == 1 ? "bmp"
                        : type == 4 ? "scr"
                                    : "fnt"));
    }
}

void report(const char *what, const Timing &ours, const Timing &plain)
{
    std::printf("%-28s median %8.1f us  best %8.1f us | plain median %7.1f us  best %7.1f us | "
                "ratio %5.2f (best %5.2f)\n",
        what, ours.medianUs, ours.bestUs, plain.medianUs, plain.bestUs,
        ours.medianUs / plain.medianUs, ours.bestUs / plain.bestUs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 300;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    ObjectList source;
    fillRealistic(source);
    const QByteArray bytes = *listfile::encode(source);
    const QString ours = dir.filePath(QStringLiteral("ours.orm"));
    const QString plain = dir.filePath(QStringLiteral("plain.orm"));
    if (!listfile::write(ours, source))
        return 1;
    std::printf("list of %d rows, %lld bytes, %d runs each (targets: ratio <= 5, < 20 ms)\n",
        source.rowCount(), static_cast<long long>(bytes.size()), runs);

    bool ok = true;
    if (only.isEmpty() || only == "load") {
        // Into a list the window's model watches, as the program loads.
        ObjectList target;
        ObjectListModel model(target);
        const Timing load = measure(runs, [&] {
            target.setRowCount(2);
            ok = ok && listfile::read(ours, target, 0) == listfile::ReadResult::Ok;
        });
        const Timing plainRead = measure(runs, [&] {
            QFile f(ours);
            ok = ok && f.open(QIODevice::ReadOnly) && f.readAll().size() == bytes.size();
        });
        // The least any text reader does: the bytes and one conversion of all of them.
        const Timing readDecode = measure(runs, [&] {
            QFile f(ours);
            ok = ok && f.open(QIODevice::ReadOnly)
                && fromCp1251(f.readAll()).size() == bytes.size();
        });
        report("load vs plain read", load, plainRead);
        report("load vs read + one decode", load, readDecode);
    }
    if (only.isEmpty() || only == "save") {
        const Timing encode
            = measure(runs, [&] { ok = ok && listfile::encode(source).has_value(); });
        const Timing save = measure(runs, [&] { ok = ok && listfile::write(ours, source); });
        const Timing plainWrite = measure(runs, [&] {
            QFile f(plain);
            ok = ok && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && f.write(bytes) == bytes.size();
        });
        // The save replaces the file only once its bytes are on the disk; the plain
        // counterpart of that guarantee writes a temporary file, syncs it and renames it.
        const QByteArray tmpName = QFile::encodeName(plain + QStringLiteral(".tmp"));
        const QByteArray plainName = QFile::encodeName(plain);
        const Timing plainDurable = measure(runs, [&] {
            const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ok = ok && fd >= 0
                && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
            ok = ok && ::fsync(fd) == 0;
            ::close(fd);
            ok = ok && ::rename(tmpName.constData(), plainName.constData()) == 0;
        });
        std::printf("%-28s median %8.1f us  best %8.1f us\n", "save: of which encoding",
            encode.medianUs, encode.bestUs);
        report("save vs plain write", save, plainWrite);
        report("save vs write+fsync+rename", save, plainDurable);
    }
    if (!ok) {
        std::printf("a run failed\n");
        return 1;
    }
    return 0;
}
