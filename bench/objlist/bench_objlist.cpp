// Loads and saves a list of 1,319 rows, the largest a list file holds, the way the program does,
// and compares each with a plain read or write of the same bytes. Each run of ours is followed
// by a run of its plain counterpart, so that both meet the machine in the same state (this one
// is shared, and other work comes and goes); a ratio is the median of the pairs' ratios.
//   bench_objlist [runs] [load|save]
// Ends with RESULT lines for bench/run.
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

// The window's grid shows this many rows at once (385 pixels at 20 per row, header included).
constexpr int kVisibleRows = 19;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Pairs
{
    std::vector<double> oursUs;
    std::vector<double> plainUs;
    std::vector<double> ratios;

    double oursMedian() const { return median(oursUs); }
    double plainMedian() const { return median(plainUs); }
    double ratioMedian() const { return median(ratios); }
};

double timeUs(const std::function<void()> &work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1000.0;
}

Pairs measurePairs(int runs, const std::function<void()> &ours, const std::function<void()> &plain)
{
    ours(); // warm the page cache and the allocator
    plain();
    Pairs p;
    for (int i = 0; i < runs; ++i) {
        p.oursUs.push_back(timeUs(ours));
        p.plainUs.push_back(timeUs(plain));
        p.ratios.push_back(p.oursUs.back() / p.plainUs.back());
    }
    return p;
}

void report(const char *what, const Pairs &p)
{
    std::printf("%-30s median %8.1f us  best %8.1f us | plain median %7.1f us  best %7.1f us | "
                "ratio %5.2f\n",
        what, p.oursMedian(), *std::min_element(p.oursUs.begin(), p.oursUs.end()), p.plainMedian(),
        *std::min_element(p.plainUs.begin(), p.plainUs.end()), p.ratioMedian());
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

bool sameCells(const ObjectList &a, const ObjectList &b)
{
    if (a.rowCount() != b.rowCount())
        return false;
    for (int r = 1; r < a.rowCount(); ++r) {
        for (int c = 0; c < kColumnCount; ++c) {
            if (a.cell(r, c) != b.cell(r, c))
                return false;
        }
    }
    return true;
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
    Pairs load;
    Pairs save;
    if (only.isEmpty() || only == "load") {
        // Into a list the window's model watches, as the program loads: the list before has
        // another size, so the model hears of rows going and coming, and the grid then shows
        // its first rows, which a load that leaves the decoding to the reading must pay for.
        ObjectList target;
        ObjectListModel model(target);
        qsizetype shown = 0;
        const auto loadAndShow = [&] {
            target.setRowCount(2);
            ok = ok && listfile::read(ours, target, 0) == listfile::ReadResult::Ok;
            for (int r = 0; r < kVisibleRows; ++r) {
                for (int c = 0; c < kColumnCount; ++c)
                    shown += model.data(model.index(r, c)).toString().size();
            }
        };
        const auto plainRead = [&] {
            QFile f(ours);
            ok = ok && f.open(QIODevice::ReadOnly) && f.readAll().size() == bytes.size();
        };
        // The least any text reader does: the bytes and one conversion of all of them.
        const auto readDecode = [&] {
            QFile f(ours);
            ok = ok && f.open(QIODevice::ReadOnly)
                && fromCp1251(f.readAll()).size() == bytes.size();
        };
        load = measurePairs(runs, loadAndShow, plainRead);
        report("load vs plain read", load);
        report("load vs read + one decode", measurePairs(runs, loadAndShow, readDecode));
        ok = ok && shown > 0 && sameCells(target, source);

        // Saving a loaded list writes its cells' bytes back without encoding them again.
        const Pairs saveLoaded = measurePairs(
            runs, [&] { ok = ok && listfile::write(ours, target); },
            [&] {
                QFile f(plain);
                ok = ok && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && f.write(bytes) == bytes.size();
            });
        report("save loaded list vs write", saveLoaded);
        ok = ok && listfile::readBytes(bytes, target, 0) == listfile::ReadResult::Ok
            && listfile::encode(target) == bytes;
    }
    if (only.isEmpty() || only == "save") {
        // A list typed in: every cell is encoded.
        const auto saveTyped = [&] { ok = ok && listfile::write(ours, source); };
        const auto plainWrite = [&] {
            QFile f(plain);
            ok = ok && f.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && f.write(bytes) == bytes.size();
        };
        // The save replaces the file only once its bytes are on the disk; the plain
        // counterpart of that guarantee writes a temporary file, syncs it and renames it.
        const QByteArray tmpName = QFile::encodeName(plain + QStringLiteral(".tmp"));
        const QByteArray plainName = QFile::encodeName(plain);
        const auto plainDurable = [&] {
            const int fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ok = ok && fd >= 0
                && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
            ok = ok && ::fsync(fd) == 0;
            ::close(fd);
            ok = ok && ::rename(tmpName.constData(), plainName.constData()) == 0;
        };
        const Pairs encode = measurePairs(
            runs, [&] { ok = ok && listfile::encode(source).has_value(); }, [] {});
        std::printf("%-30s median %8.1f us\n", "save: of which encoding", encode.oursMedian());
        save = measurePairs(runs, saveTyped, plainWrite);
        report("save vs plain write", save);
        report("save vs write+fsync+rename", measurePairs(runs, saveTyped, plainDurable));
    }
    if (!ok) {
        std::printf("a run failed\n");
        return 1;
    }
    if (!load.ratios.empty()) {
        std::printf("RESULT objlist_load_ratio=%.2f\nRESULT objlist_load_ms=%.3f\n",
            load.ratioMedian(), load.oursMedian() / 1000.0);
    }
    if (!save.ratios.empty()) {
        std::printf("RESULT objlist_save_ratio=%.2f\nRESULT objlist_save_ms=%.3f\n",
            save.ratioMedian(), save.oursMedian() / 1000.0);
    }
    return 0;
}
