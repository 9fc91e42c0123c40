#pragma once
// The device link as the window wires it, against the controller simulator: a real TVaComm set
// up with configureCommForTarviks, a real ObjectList and DeviceLink, and FakeOperator as the
// operator. The simulator answers on a stable path of the rig's own, a link to whatever
// pseudo-terminal it has, so that it can be killed and started again on the same port, the way a
// controller is unplugged and plugged back in. Files for the list's objects go into the rig's
// temporary directory; failures that reach the general failure handler are collected in
// `failures`.
#include "common/failure.h"
#include "fakeoperator.h"
#include "link/devicelink.h"
#include "link_simprocess.h"
#include "linkcommon.h"
#include "listrows.h"
#include "objlist/objectlist.h"
#include "serial/vacomm.h"
#include "testfiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class LinkRig
{
public:
    LinkRig()
    {
        ormelin::configureCommForTarviks(comm);
        // Counts the serial events as they reach the link, then hands them on unchanged.
        auto received = comm.OnRxChar;
        comm.OnRxChar = [this, received](int32_t count) {
            ++receiveEvents;
            received(count);
        };
        auto emptied = comm.OnTxEmpty;
        comm.OnTxEmpty = [this, emptied] {
            ++transmitEmptyEvents;
            emptied();
        };
        ormelin::setFailureHandler([this](const QString &text) { failures << text; });
    }
    ~LinkRig() { ormelin::setFailureHandler({}); }
    LinkRig(const LinkRig &) = delete;
    LinkRig &operator=(const LinkRig &) = delete;

    // The port's stable name.
    QString portPath() const { return dir.filePath(QStringLiteral("ttyTarviks")); }

    // A new simulator on the port path (--baud 0 unless the arguments name a rate); one that ran
    // before is stopped first. `dump`: whether it stores what it receives.
    bool startSim(QStringList args = {}, bool dump = true)
    {
        sim.reset();
        // Spawned, not forked: the link tests run under ThreadSanitizer, which cannot follow a
        // fork of a threaded process.
        sim = std::make_unique<SimProcess>(SimProcess::Launch::Spawn);
        sim->setDump(dump);
        args << QStringLiteral("--link") << portPath();
        if (!sim->start(args)) {
            qWarning().noquote() << sim->error();
            return false;
        }
        return true;
    }

    // Starts the simulator and selects its port: whether the port opened.
    bool start(const QStringList &simArgs = {})
    {
        if (!startSim(simArgs))
            return false;
        selectPort();
        return comm.IsOpen();
    }

    // Starts the simulator and waits until the connection check has been answered.
    bool startConnected(const QStringList &simArgs = {}) { return startSim(simArgs) && connect(); }

    // The port box's selection, under the failure guard as the window runs it.
    void selectPort()
    {
        ormelin::guarded([this] { link.selectPort(portPath()); });
    }

    // Selects the port and waits for the controller's answer to the connection check.
    bool connect(int ms = 10000)
    {
        ui.connected = false;
        selectPort();
        return QTest::qWaitFor([this] { return ui.connected; }, ms);
    }

    // The write to flash as the button runs it: through the general failure guard.
    void writeToFlash()
    {
        ormelin::guarded([this] { link.writeToFlash(); });
    }

    // A file of the rig's own directory with these bytes; its path.
    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        if (!testfiles::writeFile(path, bytes))
            QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
        return path;
    }

    // Fills one row as the list editor would have written it; the row count grows to hold it.
    void setRow(int row, const QString &number, int type, const QString &path,
        const QString &width = {}, const QString &height = {})
    {
        listtest::setRow(list, row, number, type, path, width, height);
    }

    // The frames the simulator received as "<name> <hex>", in order; upload frames only, or all.
    enum class Frames { Uploads, All };
    QStringList frames(Frames which = Frames::Uploads) const
    {
        QStringList out;
        for (const QString &line : sim->log(QStringLiteral("frame"))) {
            if (which == Frames::All || line.contains(QLatin1String("-upload ")))
                out << line.section(QLatin1Char(' '), 1, 1) + QLatin1Char(' ')
                        + line.section(QStringLiteral("hex="), 1);
        }
        return out;
    }

    // Timestamps of the simulator's log lines of one kind; uploads only among the frames.
    QList<double> times(const QString &kind) const
    {
        QList<double> out;
        for (const auto &[t, text] : sim->timedLog(kind)) {
            if (kind != QLatin1String("frame") || text.contains(QLatin1String("-upload ")))
                out << t;
        }
        return out;
    }

    // The object numbers of the upload frames the simulator received, in order.
    QList<int> uploadedNumbers() const
    {
        QList<int> numbers;
        for (const QString &line : sim->log(QStringLiteral("frame"))) {
            if (line.contains(QLatin1String("-upload ")))
                numbers << line.section(QStringLiteral("number="), 1)
                               .section(QLatin1Char(' '), 0, 0)
                               .toInt();
        }
        return numbers;
    }

    // From the first upload frame on, the kinds of the upload frames, payloads, fillers and
    // replies the simulator has logged, in order.
    QStringList uploadTraffic() const
    {
        QStringList out;
        for (const QString &line : sim->log()) {
            const QString kind = line.section(QLatin1Char(' '), 0, 0);
            const bool upload
                = kind == QLatin1String("frame") && line.contains(QLatin1String("-upload "));
            if (upload
                || (!out.isEmpty()
                    && (kind == QLatin1String("payload") || kind == QLatin1String("reply")
                        || kind == QLatin1String("filler"))))
                out << kind;
        }
        return out;
    }

    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;
    FakeOperator ui;
    ormelin::ObjectList list;
    ormelin::TVaComm comm;
    ormelin::DeviceLink link { comm, list, ui };
    QStringList failures;
    int receiveEvents = 0;
    int transmitEmptyEvents = 0;
};
