// The link controller's receive handler on arbitrary line bytes, in every command state: the
// reply framing and the judging of complete replies together. The serial component is replaced
// by a stand-in for its input queue, which the handler reads as it reads the component.
//
// Besides memory safety it checks, after every receive event:
//  - the reply buffer is empty or starts with FF, and never holds more than its 1,002 bytes;
//  - nothing stays held while no command is in progress, and no complete reply stays held while
//    a command that reads one is in progress;
//  - the handler reads exactly the bytes the event announced, or all there are when fewer, and
//    never asks for more than the event announced;
//  - whenever the batch fits the buffer, buffer and outcome (status, indicator, message, gauge,
//    timers, command) agree with a model of the framing and judging written out here.
//
// Input: records of [state][length][bytes...]. state: bits 0-3 choose the command started before
// the batch (see kStarts; 11 and above keep the current one), bits 4-5 how the event announces
// the batch (exactly; more than there is; half, the rest left waiting; exactly, read 3 bytes at a
// time), bit 6 multiplies the length by 8 so that long runs of noise occur.
#include "common/operatorui.h"
#include "link/commsink.h"
#include "link/flashwriter.h"
#include "link/linkcontroller.h"
#include "link/protocol.h"
#include "objlist/objectlist.h"
#include "serial/vacomm.h"

#include <QCoreApplication>

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
    void reset()
    {
        status.clear();
        messages = 0;
        connected = false;
        gaugeVisible = true;
    }

    QString status;
    int messages = 0;
    bool connected = false;
    bool gaugeVisible = true;

    void showMessage(const QString &) override { ++messages; }
    bool askYesNo(const QString &) override { return false; }
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

// The serial component's input queue: bytes wait here until the handler reads them.
class InputQueue final : public ByteSource
{
public:
    std::deque<uint8_t> waiting;
    int32_t maxPerRead = INT32_MAX;
    int64_t announced = 0; // what the current event said was waiting, less what was read since
    int64_t delivered = 0;

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
};

struct Link
{
    TVaComm comm; // never opened: the handler only reads through the queue
    InputQueue input;
    ObjectList list;
    Operator ui;
    LinkState state;
    ReplyBuffer reply;
    NonRestartingTimer responseTimer { kResponseTimeout };
    NonRestartingTimer pacingTimer { kPacingInterval };
    CommSink commSink { comm };
    LinkController controller { comm, commSink, input, list, ui, state, reply, responseTimer,
        pacingTimer };
};

constexpr int kKeep = -1;
constexpr int kStarts[] = { 0x00, proto::kConnectionCheck, proto::kImageUpload, proto::kFontUpload,
    proto::kScriptUpload, proto::kEraseObjects, proto::kOutputImage, proto::kOutputScript,
    proto::kFontSample3, proto::kFontSample1, 0x77 };

bool readsReply(int code)
{
    switch (code) {
    case proto::kConnectionCheck:
    case proto::kImageUpload:
    case proto::kFontUpload:
    case proto::kScriptUpload:
    case proto::kEraseObjects:
        return true;
    default:
        return false;
    }
}

// Starts a command the way the link does: commands with a reply start afresh with an empty reply
// buffer and the response timer running; output commands only change the code; a command that
// ended (finished or given up) leaves the code 0.
void start(Link &link, int code)
{
    link.pacingTimer.stop();
    if (readsReply(code)) {
        link.controller.beginCommand(uint8_t(code));
        link.responseTimer.start();
    } else {
        link.state.commandInProgress = uint8_t(code);
    }
}

struct Expected
{
    std::vector<uint8_t> held;
    int command = 0;
    QString status;
    bool connected = false;
    int messages = 0;
    bool gaugeVisible = true;
    bool responseTimer = false;
    bool pacingTimer = false;
};

// The framing and judging, written out from the rules rather than taken from the link.
Expected model(const Link &link, const std::vector<uint8_t> &batch)
{
    Expected e;
    e.held.assign(link.reply.data(), link.reply.data() + link.reply.count());
    e.command = link.state.commandInProgress;
    e.status = link.ui.status;
    e.connected = link.ui.connected;
    e.messages = link.ui.messages;
    e.gaugeVisible = link.ui.gaugeVisible;
    e.responseTimer = link.responseTimer.isActive();
    e.pacingTimer = link.pacingTimer.isActive();

    std::vector<uint8_t> &b = e.held;
    b.insert(b.end(), batch.begin(), batch.end());
    if (!b.empty() && b[0] != 0xFF) {
        const auto found = std::find(b.begin() + 1, b.end(), uint8_t(0xFF));
        b.erase(b.begin(), found);
    }
    const auto finish = [&e] {
        e.held.clear();
        e.responseTimer = false;
        e.command = 0;
    };
    const bool complete = b.size() >= 10;
    switch (e.command) {
    case 0:
        b.clear();
        break;
    case proto::kConnectionCheck:
        if (complete) {
            const int s = b[1] == 0xFF ? 1 : 0;
            const int first = b[1 + s] | b[2 + s] << 8;
            const int second = b[3 + s] | b[4 + s] << 8;
            e.status = QStringLiteral("Тарвикс на связи. Разрешение экрана: %1x%2")
                           .arg(first)
                           .arg(second);
            e.connected = true;
            finish();
        }
        break;
    case proto::kImageUpload:
    case proto::kFontUpload:
    case proto::kScriptUpload:
        if (complete) {
            const bool refused = b[1] == 0xFF && b[2] == 0xFF;
            finish();
            if (refused) {
                ++e.messages;
                e.gaugeVisible = false;
            } else {
                e.pacingTimer = true;
            }
        }
        break;
    case proto::kEraseObjects:
        if (complete) {
            if (b[1] == 0xFF)
                e.status = QStringLiteral("Удаление не выполнено: флэш защищена от записи");
            else if (b[1] == 0xAA)
                e.status = QStringLiteral("Таблица объектов во флэш очищена");
            finish();
        }
        break;
    default:
        break;
    }
    return e;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The link's timers need the thread's event dispatcher; they are started and stopped here,
    // never run.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Link *link = new Link;
    Link &l = *link;
    l.input.waiting.clear();
    l.reply.clear();
    l.state = LinkState {};
    l.responseTimer.stop();
    l.pacingTimer.stop();
    l.ui.reset();

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

        const int choice = state & 0x0F;
        const int code = choice < int(std::size(kStarts)) ? kStarts[choice] : kKeep;
        if (code != kKeep)
            start(l, code);

        l.input.waiting.insert(l.input.waiting.end(), bytes.begin(), bytes.end());
        const int64_t waiting = int64_t(l.input.waiting.size());
        int64_t announced = waiting;
        l.input.maxPerRead = INT32_MAX;
        switch ((state >> 4) & 3) {
        case 1:
            announced = waiting + 1 + (state & 0x80 ? 5000 : 3);
            break;
        case 2:
            announced = (waiting + 1) / 2;
            break;
        case 3:
            l.input.maxPerRead = 3;
            break;
        }
        if (announced <= 0)
            continue; // the component reports no event without a byte waiting

        // What the handler will read: the announced bytes, or all there are.
        const int64_t toRead = std::min(announced, waiting);
        const std::vector<uint8_t> batch(l.input.waiting.begin(), l.input.waiting.begin() + toRead);
        const bool fits = l.reply.count() + toRead <= ReplyBuffer::kCapacity;
        const Expected expected = model(l, batch);
        const int before = l.state.commandInProgress;

        l.input.announced = announced;
        l.input.delivered = 0;
        l.controller.onBytesReceived(int32_t(announced));

        check(l.input.delivered == toRead);
        check(l.reply.count() >= 0 && l.reply.count() <= ReplyBuffer::kCapacity);
        check(l.reply.count() == 0 || l.reply.at(0) == 0xFF);
        if (before == 0)
            check(l.reply.count() == 0);
        if (readsReply(l.state.commandInProgress))
            check(!l.reply.complete());
        if (!readsReply(before))
            check(l.state.commandInProgress == before);

        if (fits) {
            check(l.reply.count() == int(expected.held.size()));
            check(std::equal(expected.held.begin(), expected.held.end(), l.reply.data()));
            check(l.state.commandInProgress == expected.command);
            check(l.ui.status == expected.status);
            check(l.ui.connected == expected.connected);
            check(l.ui.messages == expected.messages);
            check(l.ui.gaugeVisible == expected.gaugeVisible);
            check(l.responseTimer.isActive() == expected.responseTimer);
            check(l.pacingTimer.isActive() == expected.pacingTimer);
        }
    }
    return 0;
}
