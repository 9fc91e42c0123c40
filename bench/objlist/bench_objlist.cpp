// Loads and saves a list of 1,319 rows, the largest a list file holds, the way the program does:
// the load into a list the window's grid watches, the save of a list typed in.
//   bench_objlist [runs] [load|save]
// Ends with RESULT lines for bench/run.
#include "objlist/listfile.h"
#include "objlist/objectlist.h"
#include "objlist/objectlistmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace ormelin;

namespace {

// The window's grid shows this many rows at once (385 pixels at 20 per row, header included).
constexpr int kVisibleRows = 19;

struct Runs
{
    std::vector<double> us;
    double median() const
    {
        std::vector<double> sorted = us;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    double best() const { return *std::min_element(us.begin(), us.end()); }
};

Runs measure(int runs, const std::function<void()> &work)
{
    work(); // warm the page cache and the allocator
    Runs r;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        r.us.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    return r;
}

void report(const char *what, const Runs &r)
{
    std::printf("%-12s median %8.1f us  best %8.1f us\n", what, r.median(), r.best());
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
    const QString path = dir.filePath(QStringLiteral("list.orm"));
    const std::optional<QByteArray> bytes = listfile::encode(source);
    if (!bytes || !listfile::write(path, source))
        return 1;
    std::printf("list of %d rows, %lld bytes, %d runs each (target: < 20 ms)\n", source.rowCount(),
        static_cast<long long>(bytes->size()), runs);

    bool ok = true;
    Runs load;
    Runs save;
    if (only.isEmpty() || only == "load") {
        // The list before has another size, so the model hears of rows going and coming, and
        // the grid then shows its first rows.
        ObjectList target;
        ObjectListModel model(target);
        qsizetype shown = 0;
        load = measure(runs, [&] {
            target.setRowCount(2);
            ok = ok && listfile::read(path, target, 0) == listfile::ReadResult::Ok;
            for (int r = 0; r < kVisibleRows; ++r) {
                for (int c = 0; c < kColumnCount; ++c)
                    shown += model.data(model.index(r, c)).toString().size();
            }
        });
        report("load", load);
        ok = ok && shown > 0 && sameCells(target, source);
    }
    if (only.isEmpty() || only == "save") {
        save = measure(runs, [&] { ok = ok && listfile::write(path, source); });
        report("save", save);
        ok = ok && listfile::encode(source) == bytes;
    }
    if (!ok) {
        std::printf("a run failed\n");
        return 1;
    }
    if (!load.us.empty())
        std::printf("RESULT objlist_load_ms=%.3f\n", load.median() / 1000.0);
    if (!save.us.empty())
        std::printf("RESULT objlist_save_ms=%.3f\n", save.median() / 1000.0);
    return 0;
}
