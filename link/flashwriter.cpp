#include "link/flashwriter.h"

#include "common/numparse.h"
#include "common/operatorui.h"
#include "link/protocol.h"
#include "objlist/objectlist.h"
#include "payload/payload.h"
#include "serial/vacomm.h"

#include <QLocale>
#include <algorithm>

namespace ormelin {

namespace {
const QString kPortNotOpen = QStringLiteral("Порт для связи не открыт. Передача невозможна");
const QString kSizeFieldError
    = QStringLiteral("Ошибка в поле \"Высота символа\" и/или \"Ширина символа\"");
const QString kSizeOutOfRange = QStringLiteral("Недопустимая ширина или высота символа");
} // namespace

FlashWriter::FlashWriter(TVaComm &comm, proto::FrameSink &sink, ObjectList &list, OperatorUi &ui,
    LinkState &state, LinkController &controller, PayloadBuffer &payload, PictureHolder &picture,
    NonRestartingTimer &responseTimer, NonRestartingTimer &pacingTimer, QObject *parent)
    : QObject(parent)
    , m_comm(comm)
    , m_sink(sink)
    , m_list(list)
    , m_ui(ui)
    , m_state(state)
    , m_controller(controller)
    , m_payload(payload)
    , m_picture(picture)
    , m_responseTimer(responseTimer)
    , m_pacingTimer(pacingTimer)
{
}

int64_t FlashWriter::kilobytesRoundedHalfEven(int64_t bytes)
{
    int64_t quotient = bytes / 1024;
    const int64_t remainder = bytes % 1024;
    if (remainder > 512 || (remainder == 512 && (quotient % 2) != 0))
        ++quotient;
    return quotient;
}

QString FlashWriter::completionSummary(int64_t bytes, int64_t elapsedMs, double lineBytesPerSecond)
{
    // Kilobytes per second of 1000 bytes, the unit the line's ceiling (22.7 at 250000 baud with
    // two stop bits) is usually quoted in; the share does not depend on the unit anyway.
    QLocale russian(QLocale::Russian, QLocale::Russia);
    russian.setNumberOptions(QLocale::OmitGroupSeparator);
    const double seconds = double(std::max<int64_t>(elapsedMs, 1)) / 1000.0;
    const double rate = double(bytes) / seconds;
    QString text = QStringLiteral("Записано за ") + russian.toString(seconds, 'f', 1)
        + QStringLiteral(" с: ") + russian.toString(rate / 1000.0, 'f', 1)
        + QStringLiteral(" кБайт/с");
    if (lineBytesPerSecond > 0) {
        text += QStringLiteral(", ") + QString::number(qRound(100.0 * rate / lineBytesPerSecond))
            + QStringLiteral("% предельной скорости линии (")
            + russian.toString(lineBytesPerSecond / 1000.0, 'f', 1) + QStringLiteral(" кБайт/с)");
    }
    return text;
}

void FlashWriter::writeToFlash()
{
    // A step still due from an earlier write would send the next object without waiting for the
    // controller to accept this write's first one, and every reply after that would be judged
    // for the wrong object: a refused object could pass as written.
    m_pacingTimer.stop();
    if (!m_comm.IsOpen()) {
        m_ui.setStatus(kPortNotOpen);
        return;
    }
    // The controller answers uploads in the order it receives them, so while an earlier object
    // is still unanswered, the next reply is that object's. Judged as the reply to the new
    // write's first object it would shift every verdict by one: the write would be reported
    // complete before its last object had been answered, even when that object was refused.
    // A new payload queued behind a long one still going out could also find no room in the
    // write queue. So the new write waits for that reply (or for the link to give up on it);
    // its bytes could not have reached the controller before then anyway. A port whose device
    // has gone will answer nothing: the write starts at once and fails as the line does.
    if (m_controller.uploadAwaitingReply() && !m_comm.hungUp()) {
        m_restartHeld = true;
        return;
    }
    m_restartHeld = false;
    m_currentRow = 1;
    m_objectsRemaining = 0;
    for (int row = 1; row < m_list.rowCount(); ++row) {
        if (!m_list.cell(row, ColNumber).isEmpty())
            ++m_objectsRemaining;
    }
    if (m_objectsRemaining == 0) {
        m_ui.setStatus(QStringLiteral("Список пуст"));
        return;
    }
    m_gaugeMaximum = m_objectsRemaining;
    m_ui.setGaugeMaximum(m_gaugeMaximum);
    m_ui.setGaugeVisible(true);
    m_state.errorFlag = false;
    m_state.totalSent = 0;
    m_started.start();
    uploadStep();
}

void FlashWriter::onUploadSettled()
{
    if (!m_restartHeld)
        return;
    m_restartHeld = false;
    writeToFlash();
}

void FlashWriter::uploadStep()
{
    m_ui.setGaugeProgress(m_gaugeMaximum - m_objectsRemaining);
    if (m_objectsRemaining == 0) {
        // Timed before the box, which waits for the operator.
        const int64_t elapsedMs = m_started.isValid() ? m_started.elapsed() : 0;
        const int64_t total = m_state.totalSent;
        m_ui.showMessage(QStringLiteral("Передача успешно завершена. Передано ")
            + QString::number(kilobytesRoundedHalfEven(total)) + QStringLiteral(" кБайт."));
        m_ui.setGaugeVisible(false);
        m_ui.setStatus(completionSummary(total, elapsedMs, m_comm.lineBytesPerSecond()));
        return;
    }
    --m_objectsRemaining;

    // The list may have been edited since the write started: rows are read as they are reached,
    // and rows hidden by a shorter list are never sent.
    if (m_currentRow >= m_list.rowCount()) {
        m_ui.setGaugeVisible(false);
        return;
    }
    while (m_list.cell(m_currentRow, ColNumber).isEmpty()) {
        ++m_currentRow;
        if (m_currentRow >= m_list.rowCount()) {
            m_ui.setGaugeVisible(false);
            return;
        }
    }

    const int row = m_currentRow;
    const auto number = parseNumber(m_list.cell(row, ColNumber));
    if (!number) {
        m_ui.showMessage(QStringLiteral("Ошибка в поле \"Номер объекта\""));
        m_ui.setGaugeVisible(false);
        return;
    }
    const QString typeText = m_list.cell(row, ColType);
    const int type = lookupObjectType(typeText);
    if (type < 0) {
        m_ui.showMessage(QStringLiteral("Неизвестный тип объекта: ") + typeText);
        m_ui.setGaugeVisible(false);
        return;
    }

    m_responseTimer.stop();
    m_state.errorFlag = false;
    const QString path = m_list.cell(row, ColFile);
    switch (type) {
    case 0:
        uploadImage(path, *number, proto::kPictureKindJpeg);
        break;
    case 1:
        uploadImage(path, *number, proto::kPictureKindPixels);
        break;
    case 2:
        uploadFont(path, m_list.cell(row, ColWidth), m_list.cell(row, ColHeight), *number,
            proto::kFontFormatMicrochip);
        break;
    case 3:
        uploadFont(path, m_list.cell(row, ColWidth), m_list.cell(row, ColHeight), *number,
            proto::kFontFormatMonospace);
        break;
    default:
        uploadScript(path, *number);
        break;
    }

    if (m_state.errorFlag) {
        m_ui.setGaugeVisible(false);
        return;
    }
    ++m_currentRow;
    m_ui.setStatus(QStringLiteral("Передаем объект ") + QString::number(*number));
}

bool FlashWriter::portReady()
{
    if (m_comm.IsOpen())
        return true;
    m_ui.setStatus(kPortNotOpen);
    m_state.errorFlag = true;
    return false;
}

bool FlashWriter::numberInRange(int32_t number)
{
    if (number >= 0 && number <= kMaxObjectNumber)
        return true;
    m_ui.showMessage(QStringLiteral("Неверный номер объекта: ") + QString::number(number));
    m_state.errorFlag = true;
    return false;
}

bool FlashWriter::readPayloadOrReport(const QString &path, int32_t &size)
{
    const auto read = readFilePayload(path, m_payload);
    if (!read) {
        m_ui.showMessage(QStringLiteral("Ошибка чтения файла ") + path);
        m_state.errorFlag = true;
        return false;
    }
    size = *read;
    return true;
}

void FlashWriter::sendPayload(int32_t size)
{
    proto::sendPayload(m_sink, m_payload.data(), size);
    m_state.totalSent += size;
}

void FlashWriter::uploadImage(const QString &path, int32_t number, uint8_t kind)
{
    if (!portReady() || !numberInRange(number))
        return;
    int32_t size = 0;
    try {
        m_picture.load(path);
        if (kind == proto::kPictureKindPixels)
            size = m_picture.encodePixels(m_payload);
    } catch (const PictureError &) {
        m_ui.showMessage(QStringLiteral("Ошибка чтения изображения ") + path);
        m_state.errorFlag = true;
        return;
    }
    if (kind == proto::kPictureKindJpeg && !readPayloadOrReport(path, size))
        return;

    m_controller.beginCommand(proto::kImageUpload);
    proto::sendImageUpload(m_sink, number, m_picture.width(), m_picture.height(), kind, size);
    sendPayload(size);
}

void FlashWriter::uploadFont(const QString &path, const QString &widthText,
    const QString &heightText, int32_t number, uint8_t format)
{
    if (!portReady() || !numberInRange(number))
        return;
    const auto width = parseNumber(widthText);
    const auto height = width ? parseNumber(heightText) : std::nullopt;
    if (!width || !height) {
        m_ui.showMessage(kSizeFieldError);
        m_state.errorFlag = true;
        return;
    }
    if (*height > 255 || *width > 255) {
        m_ui.showMessage(kSizeOutOfRange);
        m_state.errorFlag = true;
        return;
    }
    int32_t size = 0;
    if (!readPayloadOrReport(path, size))
        return;

    m_controller.beginCommand(proto::kFontUpload);
    proto::sendFontUpload(m_sink, number, format, size, *width, *height);
    sendPayload(size);
}

void FlashWriter::uploadScript(const QString &path, int32_t number)
{
    if (!portReady() || !numberInRange(number))
        return;
    int32_t size = 0;
    if (!readPayloadOrReport(path, size))
        return;

    m_controller.beginCommand(proto::kScriptUpload);
    proto::sendScriptUpload(m_sink, number, size);
    sendPayload(size);
}

} // namespace ormelin
