#include "link/linkcontroller.h"

#include "common/failure.h"
#include "common/numparse.h"
#include "common/operatorui.h"
#include "link/commport.h"
#include "link/protocol.h"
#include "objlist/objectlist.h"
#include "serial/commerror.h"

#include <array>

namespace ormelin {

namespace {

const QString kPortNotOpen = QStringLiteral("Порт для связи не открыт. Передача невозможна");

QString heldName(HeldCommand kind)
{
    switch (kind) {
    case HeldCommand::ConnectionCheck:
        return QStringLiteral("проверка связи");
    case HeldCommand::Erase:
        return QStringLiteral("очистка флэш");
    case HeldCommand::WriteToFlash:
    case HeldCommand::NextObject:
        break;
    }
    return QStringLiteral("запись во флэш");
}

bool isUpload(uint8_t code)
{
    return code == proto::kImageUpload || code == proto::kFontUpload
        || code == proto::kScriptUpload;
}

} // namespace

LinkController::LinkController(CommPort &port, ObjectList &list, OperatorUi &ui, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_list(list)
    , m_ui(ui)
{
    // Every entry point from the port and the timer runs under the general failure guard.
    m_port.setEvents({
        [this](int32_t count) { guarded([&] { onBytesReceived(count); }); },
        [this] { guarded([&] { onTransmitQueueEmpty(); }); },
        [this] { guarded([&] { onDeviceGone(); }); },
    });
    connect(&m_responseTimer, &NonRestartingTimer::expired, this,
        [this] { guarded([this] { onResponseTimerExpiry(); }); });
}

LinkController::~LinkController()
{
    m_port.setEvents({});
}

QStringList LinkController::reset(bool lost)
{
    QStringList cancelled;
    const bool upload = uploadInProgress();
    m_lateReplyPossible = false;
    m_reply.clear();
    m_responseTimer.stop();
    m_command = 0;
    std::deque<Held> held;
    held.swap(m_held);
    for (const Held &h : held) {
        if (!cancelled.contains(heldName(h.kind)))
            cancelled << heldName(h.kind);
    }
    emit lineReset(lost, &cancelled);
    if (upload)
        emit uploadSettled(UploadVerdict::Dropped);
    return cancelled;
}

void LinkController::selectPort(const QString &portText)
{
    QStringList &cancelled = m_cancelledByPortChange;
    if (m_port.IsOpen()) {
        for (const QString &name : reset(false)) {
            if (!cancelled.contains(name))
                cancelled << name;
        }
        m_port.PurgeAll();
        m_port.Close();
    }
    // Nothing is on the line now; the new port's connection check lights the indicator again
    // when it is answered.
    m_ui.setConnected(false);
    m_lossTold = false;
    m_port.SetDeviceName(portText);
    try {
        m_port.Open();
    } catch (const EVaCommError &e) {
        m_ui.setStatus(QStringLiteral("Не могу открыть порт ") + m_port.DeviceName());
        m_ui.setStatusDetail(e.text());
    }
    if (m_port.IsOpen()) {
        m_ui.setStatus(QStringLiteral("Порт ") + m_port.DeviceName() + QStringLiteral(" открыт"));
        m_ui.setStatusDetail(QString());
    }
    // After the port's own status, which would hide it; the connection check's answer replaces
    // it in turn.
    if (!cancelled.isEmpty())
        m_ui.setStatus(QStringLiteral("Отменено из-за смены порта: ") + cancelled.join(u", "));
    if (m_port.IsOpen()) {
        cancelled.clear();
        connectionCheck();
    }
}

bool LinkController::lineLost()
{
    if (!m_port.IsOpen() || !m_port.hungUp())
        return false;
    onDeviceGone();
    return true;
}

void LinkController::onDeviceGone()
{
    if (m_lossTold || !m_port.IsOpen())
        return;
    m_lossTold = true;
    const QStringList cancelled = reset(true);
    m_ui.setConnected(false);
    QString status
        = QStringLiteral("Связь с портом ") + m_port.DeviceName() + QStringLiteral(" потеряна");
    if (!cancelled.isEmpty())
        status += QStringLiteral(". Отменено: ") + cancelled.join(u", ");
    m_ui.setStatus(status);
}

void LinkController::begin(uint8_t code)
{
    m_retriesLeft = kFillerRetries;
    m_reply.clear();
    m_command = code;
}

bool LinkController::uploadInProgress() const
{
    return isUpload(m_command);
}

bool LinkController::awaitingReply() const
{
    return uploadInProgress() || m_command == proto::kConnectionCheck
        || m_command == proto::kEraseObjects;
}

void LinkController::whenLineFree(HeldCommand kind, std::function<void()> start)
{
    if (!awaitingReply()) {
        start();
        return;
    }
    dropHeld(kind);
    m_held.push_back({ kind, std::move(start) });
    m_ui.setStatus(QStringLiteral("Ждем ответа Тарвикса на предыдущую команду"));
    // A check or an erase waits without limit after its filler; with a command held behind it,
    // its next expiry ends the wait.
    if (!uploadInProgress() && m_retriesLeft < kFillerRetries)
        m_responseTimer.start();
}

void LinkController::dropHeld(HeldCommand kind)
{
    std::erase_if(m_held, [kind](const Held &h) { return h.kind == kind; });
}

void LinkController::releaseHeld()
{
    while (!awaitingReply() && !m_held.empty()) {
        if (lineLost())
            return;
        Held next = std::move(m_held.front());
        m_held.pop_front();
        next.start();
    }
}

void LinkController::beginUpload(uint8_t code)
{
    m_responseTimer.stop();
    begin(code);
    m_uploadOnLine = true;
}

void LinkController::abandonUpload()
{
    if (!uploadInProgress())
        return;
    finish();
    emit uploadSettled(UploadVerdict::Dropped);
    releaseHeld();
}

void LinkController::sendOrForget(const std::function<void()> &send)
{
    // A command whose frame did not go out gets no reply: waiting for one would hold every
    // later command for nothing.
    try {
        send();
    } catch (...) {
        finish();
        throw;
    }
}

void LinkController::connectionCheck()
{
    if (!m_port.IsOpen())
        return;
    whenLineFree(HeldCommand::ConnectionCheck, [this] { startConnectionCheck(); });
}

void LinkController::startConnectionCheck()
{
    if (!m_port.IsOpen())
        return;
    begin(proto::kConnectionCheck);
    sendOrForget([this] { proto::sendConnectionCheck(m_port); });
    m_responseTimer.start();
}

void LinkController::eraseObjectTable()
{
    if (!m_port.IsOpen())
        return;
    // A write pressed before the erase ends with it, held or running; one pressed after it runs
    // after it, as a new write.
    bool writeEnded = std::erase_if(m_held, [](const Held &h) {
        return h.kind == HeldCommand::WriteToFlash || h.kind == HeldCommand::NextObject;
    }) > 0;
    emit eraseRequested(&writeEnded);
    whenLineFree(HeldCommand::Erase, [this] { startErase(); });
    if (writeEnded)
        m_ui.setStatus(QStringLiteral("Запись во флэш прервана: ") + heldName(HeldCommand::Erase));
}

void LinkController::startErase()
{
    if (!m_port.IsOpen())
        return;
    begin(proto::kEraseObjects);
    sendOrForget([this] { proto::sendEraseObjects(m_port); });
    m_responseTimer.start();
}

void LinkController::outputSelectedObject()
{
    if (!m_port.IsOpen()) {
        m_ui.setStatus(kPortNotOpen);
        return;
    }
    const int row = m_list.selectedRow();
    const QString numberText = m_list.cell(row, ColNumber);
    if (numberText.isEmpty())
        return;
    const int type = lookupObjectType(m_list.cell(row, ColType));
    if (type < 0) {
        m_ui.setStatus(QStringLiteral("Неизвестный тип объекта"));
        return;
    }
    const auto number = parseNumber(numberText);
    if (!number) {
        m_ui.setStatus(QStringLiteral("Ошибка в поле \"Номер объекта\""));
        return;
    }
    // Output commands get no reply: their code stays as the command in progress, with no timer,
    // until the next command starts. One sent while a reply is awaited leaves that command in
    // progress, so that its reply is still judged for it.
    const bool keep = awaitingReply();
    uint8_t code;
    switch (type) {
    case 0:
    case 1:
        code = proto::kOutputImage;
        proto::sendOutputImage(m_port, *number);
        break;
    case 4:
        code = proto::kOutputScript;
        proto::sendOutputScript(m_port, *number);
        break;
    default:
        code = proto::kFontSample3;
        proto::sendFontSample(m_port, *number);
        break;
    }
    if (!keep)
        m_command = code;
    m_ui.setStatus(QStringLiteral("Команда на вывод объекта ") + QString::number(*number)
        + QStringLiteral(" отправлена"));
}

void LinkController::finish()
{
    m_reply.clear();
    m_responseTimer.stop();
    m_command = 0;
}

void LinkController::onBytesReceived(int32_t count)
{
    // Everything waiting is read, a buffer's worth at a time, so that a long run of line noise
    // cannot crowd a reply that follows it out of the reply buffer.
    std::array<uint8_t, ReplyBuffer::kCapacity> scratch;
    while (count > 0) {
        const int32_t want = std::min<int32_t>(count, int32_t(scratch.size()));
        const int32_t got = m_port.ReadBytes(scratch.data(), want);
        if (got <= 0)
            break;
        m_reply.append(scratch.data(), got);
        count -= got;
    }

    switch (m_command) {
    case 0:
        m_reply.clear();
        return;
    case proto::kConnectionCheck:
        if (!m_reply.complete())
            return;
        {
            const ScreenResolution r = connectionCheckResolution(m_reply);
            m_ui.setStatus(QStringLiteral("Тарвикс на связи. Разрешение экрана: ")
                + QString::number(r.first) + QLatin1Char('x') + QString::number(r.second));
            m_ui.setConnected(true);
            finish();
        }
        break;
    case proto::kImageUpload:
    case proto::kFontUpload:
    case proto::kScriptUpload:
        if (!m_reply.complete())
            return;
        if (m_lateReplyPossible && (m_uploadOnLine || !uploadAnswerShaped(m_reply))) {
            // The controller cannot answer an object it has not received whole, and answers an
            // object in its own way: this is the answer to the check or erase given up before,
            // which would otherwise be taken for the object's acceptance. The object's own
            // answer is still awaited, its timer and fillers running as they were.
            m_lateReplyPossible = false;
            m_reply.clear();
            return;
        }
        {
            const bool refused = uploadRefused(m_reply);
            finish();
            emit uploadSettled(refused ? UploadVerdict::Refused : UploadVerdict::Accepted);
        }
        break;
    case proto::kEraseObjects: {
        if (!m_reply.complete())
            return;
        const EraseOutcome outcome = eraseOutcome(m_reply);
        switch (outcome) {
        case EraseOutcome::Refused:
            m_ui.setStatus(QStringLiteral("Удаление не выполнено: флэш защищена от записи"));
            break;
        case EraseOutcome::Erased:
            m_ui.setStatus(QStringLiteral("Таблица объектов во флэш очищена"));
            break;
        case EraseOutcome::NoMeaning:
            break;
        }
        finish();
        emit eraseAnswered(outcome);
        break;
    }
    default:
        // Output commands read no reply; the bytes stay until the next command clears them.
        return;
    }
    releaseHeld();
}

void LinkController::onTransmitQueueEmpty()
{
    if (uploadInProgress()) {
        m_uploadOnLine = false;
        m_responseTimer.start();
    }
}

void LinkController::onResponseTimerExpiry()
{
    m_responseTimer.stop();
    if (!awaitingReply() || lineLost())
        return;
    const bool upload = uploadInProgress();
    if (!upload && m_retriesLeft < kFillerRetries) {
        // A check or an erase past its filler: this expiry was started only to bound the wait
        // of a command held behind it. The link gives up on the reply and runs that command.
        if (!m_held.empty()) {
            finish();
            m_lateReplyPossible = true;
            releaseHeld();
        }
        return;
    }
    if (m_retriesLeft > 0) {
        // For an upload the filler's own transmit-empty event starts the timer again; the
        // connection check and the erase get this one filler and then wait, unless a command
        // is held behind them.
        proto::sendFiller(m_port);
        --m_retriesLeft;
        if (!upload && !m_held.empty())
            m_responseTimer.start();
        return;
    }
    m_command = 0;
    m_reply.clear();
    m_ui.setConnected(false);
    m_ui.setStatus(QStringLiteral("Нет ответа от Тарвикса"));
    if (upload)
        emit uploadSettled(UploadVerdict::NoAnswer);
    releaseHeld();
}

} // namespace ormelin
