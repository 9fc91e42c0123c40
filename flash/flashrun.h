#pragma once
// One run of ormelin-flash: a job per port, all in this thread's event loop (the link is
// single-threaded, the serial component delivers its events here), what they print, the report
// and the exit code. A failure on one port ends that port's job only.
#include "flash/options.h"
#include "flash/portjob.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace ormelin::flash {

struct Console
{
    FILE *out = stdout; // progress, outcomes that succeeded
    FILE *err = stderr; // failures
    bool terminal = false; // progress bars instead of one line per object
    int columns = 80;
    // Asked before an erase when `terminal`: true to go on.
    std::function<bool(const QString &question)> confirm;
};

// The progress bars at the bottom of a terminal. A message is printed above them: the bars are
// erased, the message printed and the bars drawn again below it, so that nothing printed is
// ever drawn over. Each bar is cut short of the terminal's width, so that none wraps and the
// cursor goes back up over exactly the lines drawn.
class BarBlock
{
public:
    BarBlock(FILE *out, int columns);
    void draw(const QStringList &bars);
    void message(FILE *stream, const QString &text);
    // The bars stay on screen as they are, and what is printed next goes below them.
    void leave() { m_drawn = 0; }

private:
    void erase();

    FILE *m_out;
    int m_columns;
    QStringList m_bars;
    int m_drawn = 0;
};

class FlashRun : public QObject
{
    Q_OBJECT
public:
    FlashRun(const Options &options, const Console &console, QObject *parent = nullptr);
    ~FlashRun() override;

    // Runs every port to its end and returns the exit code.
    int exec();
    // Ctrl+C: every port stops now; exec() returns ExitInterrupted.
    void interrupt();

private:
    void print(FILE *stream, const QString &text);
    void objectSettled(PortJob *job, const ObjectRecord &record);
    void portFinished(PortJob *job);
    void routeFailure(const QString &text);
    void drawBars();
    bool reportWritable();
    bool writeReport(int exitCode);

    Options m_options;
    Console m_console;
    std::vector<std::unique_ptr<PortJob>> m_jobs;
    QTimer m_barTimer;
    BarBlock m_bars;
    int m_running = 0;
    bool m_interrupted = false;
};

} // namespace ormelin::flash
