#pragma once
// One run of ormelin-flash: a job per port, all in this thread's event loop (the link is
// single-threaded, the serial component delivers its events here), what they print, the report
// and the exit code. A failure on one port ends that port's job only.
#include "flash/options.h"
#include "flash/portjob.h"

#include <QObject>
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
    void clearBars();
    bool writeReport(int exitCode);

    Options m_options;
    Console m_console;
    std::vector<std::unique_ptr<PortJob>> m_jobs;
    QTimer m_barTimer;
    int m_barsDrawn = 0;
    int m_running = 0;
    bool m_interrupted = false;
};

} // namespace ormelin::flash
