// The device link on arbitrary line bytes, with the operator pressing buttons in between: the
// reply framing, the judging of complete replies and the holding of commands started while a
// reply is awaited, together. The link runs on a stand-in port whose input queue the fuzzer
// fills; timers never expire here, since the event loop never runs.
//
// Besides memory safety it checks, after every receive event:
//  - the handler reads exactly the bytes the event announced, or all there are when fewer, and
//    never asks for more than the event announced;
//  - whenever everything received since the last judged reply fits the reply buffer, what the
//    operator sees (status, indicator, messages, gauge) and the frames sent agree with a model
//    of the framing, the judging and the holding written out here.
//
// Input: records of [state][length][bytes...]. state: bits 0-3 choose the press before the
// batch (see Press; 6 and above press nothing), bits 4-5 how the event announces the batch
// (exactly; more than there is; half, the rest left waiting; exactly, read 3 bytes at a time),
// bit 6 multiplies the length by 8 so that long runs of noise occur.
#include "common/operatorui.h"
#include "link/devicelink.h"
#include "link/replybuffer.h"
#include "linkcommon.h"
#include "listrows.h"
#include "objlist/objectlist.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <optional>
#include <vector>

namespace {

using namespace ormelin;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

class Operator final : public OperatorUi
{
public:
    QString status;
    int messages = 0;
    bool connected = false;
    bool gaugeVisible = false;

    void showMessage(const QString &) override { ++messages; }
    bool askYesNo(const QString &) override { return false; }
    Answer askYesNoOrDismiss(const QString &) override { return Answer::No; }
    void setStatus(const QString &text) override { status = text; }
    void setStatusDetail(const QString &) override { }
    QString title() const override { return {}; }
    void setTitle(const QString &) override { }
    void setConnected(bool on) override { connected = on; }
    void setGaugeMaximum(int) override { }
    void setGaugeProgress(int) override { }
    void setGaugeVisible(bool visible) override { gaugeVisible = visible; }
    std::optional<QString> chooseOpenFile() override { return std::nullopt; }
    std::optional<QString> chooseSaveFile(const QString &) override { return std::nullopt; }
};

// Always open; what the link sends is noted as frame kinds, payload bytes left out.
class FuzzPort final : public CommPort
{
public:
    std::deque<uint8_t> waiting;
    int32_t maxPerRead = INT32_MAX;
    int64_t announced = 0; // what the current event said was waiting, less what was read since
    int64_t delivered = 0;
    std::vector<int> frames; // the command code of each frame, in order
    Events events;

    void setEvents(Events e) override { events = std::move(e); }
    bool IsOpen() const override { return true; }
    void SetDeviceName(const QString &) override { }
    QString DeviceName() const override { return QStringLiteral("fuzz"); }
    void Open() override { }
    void Close() override { }
    void PurgeAll() override { waiting.clear(); }
    bool hungUp() const override { return false; }
    double lineBytesPerSecond() const override { return 0; }

    bool WriteByte(uint8_t byte) override
    {
        // The third byte of a frame with two lead bytes is its code.
        m_lead = byte == 0xAA ? m_lead + 1 : (m_lead == 2 ? (frames.push_back(byte), 0) : 0);
        return true;
    }
    int32_t WriteBytes(const void *, int32_t count) override
    {
        m_lead = 0;
        return count;
    }
    int32_t ReadBytes(void *dest, int32_t count) override
    {
        check(dest != nullptr && count > 0 && count <= announced);
        const auto n = int32_t(std::min<int64_t>({ count, maxPerRead, int64_t(waiting.size()) }));
        announced -= n;
        auto *out = static_cast<uint8_t *>(dest);
        for (int32_t i = 0; i < n; ++i) {
            out[i] = waiting.front();
            waiting.pop_front();
        }
        delivered += n;
        return n;
    }

private:
    int m_lead = 0;
};

enum Press { None, Check, Erase, Write, Output, Select };

using linktest::kHeld;

// What the link should be doing, written out independently of it.
struct Model
{
    std::vector<uint8_t> held; // reply bytes held
    int command = 0;
    std::deque<Press> queue; // commands held
    bool writing = false;
    QString status;
    bool connected = false;
    int messages = 0;
    bool gaugeVisible = false;
    std::vector<int> frames;

    bool awaiting() const { return command == 0x0B || command == 0xD5 || command == 0x58; }
    void run(Press p)
    {
        held.clear();
        switch (p) {
        case Check:
            command = 0x0B;
            frames.push_back(0x0B);
            break;
        case Erase:
            command = 0xD5;
            frames.push_back(0xD5);
            break;
        case Write:
            gaugeVisible = true;
            writing = true;
            command = 0x58;
            frames.push_back(0x58);
            status = QStringLiteral("Передаем объект 7");
            break;
        default:
            break;
        }
    }
    void press(Press p)
    {
        if (p == Output) {
            frames.push_back(0x5A);
            if (!awaiting())
                command = 0x5A;
            status = QStringLiteral("Команда на вывод объекта 7 отправлена");
            return;
        }
        if (p == Select) {
            QStringList cancelled;
            for (Press h : queue) {
                const QString name = h == Check ? QStringLiteral("проверка связи")
                    : h == Erase                ? QStringLiteral("очистка флэш")
                                                : QStringLiteral("запись во флэш");
                if (!cancelled.contains(name))
                    cancelled << name;
            }
            queue.clear();
            if (writing && !cancelled.contains(QStringLiteral("запись во флэш")))
                cancelled << QStringLiteral("запись во флэш");
            if (writing)
                gaugeVisible = false;
            writing = false;
            connected = false; // the closed port is no longer on the line
            status = cancelled.isEmpty()
                ? QStringLiteral("Порт fuzz открыт")
                : QStringLiteral("Отменено из-за смены порта: ") + cancelled.join(u", ");
            command = 0;
            run(Check);
            return;
        }
        // An erase ends the write pressed before it, held or running.
        bool writeEnded = false;
        if (p == Erase) {
            writeEnded = std::erase(queue, Write) > 0 || writing;
            if (writing)
                gaugeVisible = false;
            writing = false;
        }
        if (!awaiting()) {
            run(p);
        } else {
            std::erase(queue, p);
            queue.push_back(p);
            status = kHeld;
        }
        if (writeEnded)
            status = QStringLiteral("Запись во флэш прервана: очистка флэш");
    }
    void release()
    {
        if (awaiting() || queue.empty())
            return;
        const Press p = queue.front();
        queue.pop_front();
        run(p);
    }
    void receive(const std::vector<uint8_t> &batch)
    {
        std::vector<uint8_t> &b = held;
        b.insert(b.end(), batch.begin(), batch.end());
        if (!b.empty() && b[0] != 0xFF) {
            const auto found = std::find(b.begin() + 1, b.end(), uint8_t(0xFF));
            b.erase(b.begin(), found);
        }
        const bool complete = b.size() >= 10;
        switch (command) {
        case 0:
            b.clear();
            return;
        case 0x0B:
            if (!complete)
                return;
            {
                const int s = b[1] == 0xFF ? 1 : 0;
                const int first = b[1 + s] | b[2 + s] << 8;
                const int second = b[3 + s] | b[4 + s] << 8;
                status = QStringLiteral("Тарвикс на связи. Разрешение экрана: %1x%2")
                             .arg(first)
                             .arg(second);
                connected = true;
            }
            break;
        case 0x58:
            if (!complete)
                return;
            // The refusal of an object whose write has already ended is not shown.
            if (writing && b[1] == 0xFF && b[2] == 0xFF) {
                ++messages;
                gaugeVisible = false;
                writing = false;
            }
            break;
        case 0xD5:
            if (!complete)
                return;
            if (b[1] == 0xFF)
                status = QStringLiteral("Удаление не выполнено: флэш защищена от записи");
            else if (b[1] == 0xAA)
                status = QStringLiteral("Таблица объектов во флэш очищена");
            break;
        default:
            return;
        }
        b.clear();
        command = 0;
        release();
    }
};

struct Link
{
    Link()
    {
        const QString script = dir.filePath(QStringLiteral("7.scr"));
        if (!testfiles::writeFile(script, "run"))
            std::abort();
        listtest::setRow(list, 1, QStringLiteral("7"), TypeScript, script);
        list.selectRow(1);
    }
    QTemporaryDir dir;
    FuzzPort port;
    ObjectList list;
    Operator ui;
    std::optional<DeviceLink> link;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Link *link = new Link;
    Link &l = *link;
    // A new link for every input; the port box's first selection checks the connection.
    l.link.reset();
    l.port.waiting.clear();
    l.port.frames.clear();
    l.ui = Operator {};
    l.link.emplace(l.port, l.list, l.ui);
    l.link->selectPort(QStringLiteral("fuzz"));
    Model m;
    m.status = QStringLiteral("Порт fuzz открыт");
    m.run(Check);

    bool modelled = true;
    size_t i = 0;
    while (i + 2 <= size) {
        const uint8_t state = data[i];
        size_t length = data[i + 1];
        i += 2;
        if (state & 0x40)
            length *= 8;
        length = std::min(length, size - i);
        const std::vector<uint8_t> bytes(data + i, data + i + length);
        i += length;

        // Codes past the last press are no press: an enum must not hold a value it lacks.
        const int code = state & 0x0F;
        const Press press = code <= Select ? Press(code) : None;
        switch (press) {
        case Check:
            l.link->connectionCheck();
            break;
        case Erase:
            l.link->eraseObjectTable();
            break;
        case Write:
            l.link->writeToFlash();
            break;
        case Output:
            l.link->outputSelectedObject();
            break;
        case Select:
            l.link->selectPort(QStringLiteral("fuzz"));
            break;
        default:
            break;
        }
        if (press >= Check && press <= Select) {
            m.press(press);
            if (press == Select && !modelled) {
                // Everything starts afresh but what the operator was shown meanwhile.
                modelled = true;
                m.status = l.ui.status;
                m.connected = l.ui.connected;
                m.messages = l.ui.messages;
                m.gaugeVisible = l.ui.gaugeVisible;
                m.frames = l.port.frames;
            }
        }

        l.port.waiting.insert(l.port.waiting.end(), bytes.begin(), bytes.end());
        const int64_t waiting = int64_t(l.port.waiting.size());
        int64_t announced = waiting;
        l.port.maxPerRead = INT32_MAX;
        switch ((state >> 4) & 3) {
        case 1:
            announced = waiting + 1 + (state & 0x80 ? 5000 : 3);
            break;
        case 2:
            announced = (waiting + 1) / 2;
            break;
        case 3:
            l.port.maxPerRead = 3;
            break;
        }
        if (announced <= 0)
            continue; // the component reports no event without a byte waiting

        // What the handler will read: the announced bytes, or all there are.
        const int64_t toRead = std::min(announced, waiting);
        const std::vector<uint8_t> batch(l.port.waiting.begin(), l.port.waiting.begin() + toRead);
        // Past the buffer's room the link drops bytes of its own choosing: the model stops
        // there until the buffer is known to be empty again.
        if (int64_t(m.held.size()) + toRead > ReplyBuffer::kCapacity)
            modelled = false;
        m.receive(batch);

        l.port.announced = announced;
        l.port.delivered = 0;
        l.port.events.received(int32_t(announced));
        check(l.port.delivered == toRead);

        if (modelled) {
            check(l.ui.status == m.status);
            check(l.ui.connected == m.connected);
            check(l.ui.messages == m.messages);
            check(l.ui.gaugeVisible == m.gaugeVisible);
            check(l.port.frames == m.frames);
        }
    }
    return 0;
}
