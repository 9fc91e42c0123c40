#pragma once
// The device link as the window wires it, against the controller simulator: a real TVaComm set
// up with configureCommForTarviks, a real ObjectList and DeviceLink, and FakeOperator as the
// operator. Files for the list's objects go into a temporary directory of the rig's own; failures
// that reach the general failure handler are collected in `failures`.
#include "common/failure.h"
#include "fakeoperator.h"
#include "link/devicelink.h"
#include "link_simprocess.h"
#include "objlist/objectlist.h"
#include "serial/vacomm.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>

namespace linktest {

// Little-endian fields as hex text, for frames written out by hand in the tests.
inline QByteArray le8(uint32_t v)
{
    return QByteArray(1, char(v & 0xFF)).toHex();
}
inline QByteArray le16(uint32_t v)
{
    return le8(v) + le8(v >> 8);
}
inline QByteArray le24(uint32_t v)
{
    return le16(v) + le8(v >> 16);
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace linktest

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

    // Starts the simulator with `simArgs` (--baud 0 unless they name a rate) and selects its port.
    bool start(const QStringList &simArgs = {})
    {
        if (!sim.start(simArgs)) {
            qWarning().noquote() << sim.error();
            return false;
        }
        link.selectPort(sim.port());
        return comm.IsOpen();
    }

    // Starts the simulator and waits until the connection check has been answered.
    bool startConnected(const QStringList &simArgs = {})
    {
        if (!start(simArgs))
            return false;
        return QTest::qWaitFor([this] { return ui.connected; }, 5000);
    }

    // A file of the rig's own directory with these bytes; its path.
    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = files.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
        return path;
    }

    // Fills one row as the list editor would have written it; the row count grows to hold it.
    void setRow(int row, const QString &number, int type, const QString &path,
        const QString &width = {}, const QString &height = {})
    {
        using namespace ormelin;
        if (list.rowCount() <= row)
            list.setRowCount(row + 1);
        list.setCell(row, ColNumber, number);
        list.setCell(row, ColType, type >= 0 ? objectTypeTexts().at(type) : QStringLiteral("?"));
        list.setCell(row, ColWidth, width);
        list.setCell(row, ColHeight, height);
        list.setCell(row, ColFile, path);
    }

    // The write to flash as the button runs it: through the general failure guard.
    void writeToFlash()
    {
        ormelin::guarded([this] { link.writeToFlash(); });
    }

    // From the first upload frame on, the kinds of the upload frames, payloads, fillers and
    // replies the simulator has logged, in order.
    QStringList uploadTraffic() const
    {
        QStringList out;
        for (const QString &line : sim.log()) {
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

    SimProcess sim { SimProcess::Launch::Spawn };
    QTemporaryDir files;
    FakeOperator ui;
    ormelin::ObjectList list;
    ormelin::TVaComm comm;
    ormelin::DeviceLink link { comm, list, ui };
    QStringList failures;
    int receiveEvents = 0;
    int transmitEmptyEvents = 0;
};
