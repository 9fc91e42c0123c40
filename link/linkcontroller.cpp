#include "link/linkcontroller.h"

#include "common/numparse.h"
#include "common/operatorui.h"
#include "link/commsink.h"
#include "link/protocol.h"
#include "objlist/objectlist.h"
#include "serial/vacomm.h"

#include <array>

namespace ormelin {

namespace {
const QString kPortNotOpen = QStringLiteral("Порт для связи не открыт. Передача невозможна");
}

LinkController::LinkController(TVaComm &comm, proto::FrameSink &sink, ByteSource &source,
    ObjectList &list, OperatorUi &ui, LinkState &state, ReplyBuffer &reply,
    NonRestartingTimer &responseTimer, NonRestartingTimer &pacingTimer, QObject *parent)
    : QObject(parent)
    , m_comm(comm)
    , m_sink(sink)
    , m_source(source)
    , m_list(list)
    , m_ui(ui)
    , m_state(state)
    , m_reply(reply)
    , m_responseTimer(responseTimer)
    , m_pacingTimer(pacingTimer)
{
}

void LinkController::selectPort(const QString &portText)
{
    if (m_comm.IsOpen()) {
        m_comm.PurgeAll();
        m_comm.Close();
    }
    m_comm.SetDeviceName(portText);
    try {
        m_comm.Open();
        m_openFailure.clear();
    } catch (const EVaCommError &e) {
        m_openFailure = e.text();
        m_ui.setStatus(QStringLiteral("Не могу открыть порт ") + m_comm.DeviceName());
        m_ui.setStatusDetail(m_openFailure);
    }
    if (m_comm.IsOpen()) {
        m_ui.setStatus(QStringLiteral("Порт ") + m_comm.DeviceName() + QStringLiteral(" открыт"));
        m_ui.setStatusDetail(QString());
        connectionCheck();
    }
}

void LinkController::beginCommand(uint8_t code)
{
    m_state.retriesLeft = kFillerRetries;
    m_reply.clear();
    m_state.commandInProgress = code;
}

bool LinkController::uploadAwaitingReply() const
{
    switch (m_state.commandInProgress) {
    case proto::kImageUpload:
    case proto::kFontUpload:
    case proto::kScriptUpload:
        return true;
    default:
        return false;
    }
}

void LinkController::connectionCheck()
{
    if (!m_comm.IsOpen())
        return;
    beginCommand(proto::kConnectionCheck);
    proto::sendConnectionCheck(m_sink);
    m_responseTimer.start();
}

void LinkController::eraseObjectTable()
{
    if (!m_comm.IsOpen())
        return;
    beginCommand(proto::kEraseObjects);
    proto::sendEraseObjects(m_sink);
    m_responseTimer.start();
}

void LinkController::outputSelectedObject()
{
    if (!m_comm.IsOpen()) {
        m_ui.setStatus(kPortNotOpen);
        m_state.errorFlag = true;
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
    // until the next command starts.
    switch (type) {
    case 0:
    case 1:
        m_state.commandInProgress = proto::kOutputImage;
        proto::sendOutputImage(m_sink, *number);
        break;
    case 4:
        m_state.commandInProgress = proto::kOutputScript;
        proto::sendOutputScript(m_sink, *number);
        break;
    default:
        m_state.commandInProgress = proto::kFontSample3;
        proto::sendFontSample(m_sink, *number);
        break;
    }
    m_ui.setStatus(QStringLiteral("Команда на вывод объекта ") + QString::number(*number)
        + QStringLiteral(" отправлена"));
}

void LinkController::finish()
{
    m_reply.clear();
    m_responseTimer.stop();
    m_state.commandInProgress = 0;
}

void LinkController::onBytesReceived(int32_t count)
{
    // Everything waiting is read, a buffer's worth at a time, so that a long run of line noise
    // cannot crowd a reply that follows it out of the reply buffer.
    std::array<uint8_t, ReplyBuffer::kCapacity> scratch;
    while (count > 0) {
        const int32_t want = std::min<int32_t>(count, int32_t(scratch.size()));
        const int32_t got = m_source.ReadBytes(scratch.data(), want);
        if (got <= 0)
            break;
        m_reply.append(scratch.data(), got);
        count -= got;
    }

    switch (m_state.commandInProgress) {
    case 0:
        m_reply.clear();
        break;
    case proto::kConnectionCheck:
        if (m_reply.complete()) {
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
        if (m_reply.complete()) {
            const bool refused = uploadRefused(m_reply);
            finish();
            if (refused) {
                m_ui.showMessage(QStringLiteral(
                    "Недостаточно места для записи или замкнута перемычка защиты от записи."));
                m_ui.setGaugeVisible(false);
            } else {
                m_pacingTimer.start();
            }
            emit uploadSettled();
        }
        break;
    case proto::kEraseObjects:
        if (m_reply.complete()) {
            switch (eraseOutcome(m_reply)) {
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
        }
        break;
    default:
        // Output commands read no reply; the bytes stay until the next command clears them.
        break;
    }
}

void LinkController::onTransmitQueueEmpty()
{
    switch (m_state.commandInProgress) {
    case proto::kImageUpload:
    case proto::kFontUpload:
    case proto::kScriptUpload:
        m_responseTimer.start();
        break;
    default:
        break;
    }
}

void LinkController::onResponseTimerExpiry()
{
    m_responseTimer.stop();
    if (m_state.retriesLeft > 0) {
        // For an upload the filler's own transmit-empty event starts the timer again; the
        // connection check and the erase get this one filler and then wait.
        if (m_comm.IsOpen())
            proto::sendFiller(m_sink);
        --m_state.retriesLeft;
        return;
    }
    const bool upload = uploadAwaitingReply();
    m_state.commandInProgress = 0;
    m_ui.setConnected(false);
    m_ui.setStatus(QStringLiteral("Нет ответа от Тарвикса"));
    m_ui.setGaugeVisible(false);
    if (upload)
        emit uploadSettled();
}

} // namespace ormelin
