#include "link/flashwriter.h"

#include "common/failure.h"
#include "common/numparse.h"
#include "common/operatorui.h"
#include "link/commport.h"
#include "link/protocol.h"
#include "objlist/objectlist.h"
#include "payload/payload.h"

#include <QLocale>
#include <algorithm>

namespace ormelin {

namespace {
const QString kPortNotOpen = QStringLiteral("Порт для связи не открыт. Передача невозможна");
const QString kSizeFieldError
    = QStringLiteral("Ошибка в поле \"Высота символа\" и/или \"Ширина символа\"");
const QString kSizeOutOfRange = QStringLiteral("Недопустимая ширина или высота символа");
} // namespace

FlashWriter::FlashWriter(
    CommPort &port, ObjectList &list, OperatorUi &ui, LinkController &controller, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_list(list)
    , m_ui(ui)
    , m_controller(controller)
{
    connect(&m_controller, &LinkController::uploadSettled, this, &FlashWriter::onUploadSettled);
    connect(&m_controller, &LinkController::lineReset, this, [this](bool, QStringList *cancelled) {
        if (!m_running)
            return;
        const QString name = QStringLiteral("запись во флэш");
        if (cancelled && !cancelled->contains(name))
            *cancelled << name;
        end(false);
    });
    connect(&m_controller, &LinkController::eraseRequested, this, [this](bool *ended) {
        if (!m_running)
            return;
        *ended = true;
        end(false);
    });
    // A failure inside the timer's handler is reported and leaves the timer as it was.
    connect(&m_pacingTimer, &NonRestartingTimer::expired, this,
        [this] { guarded([this] { onPacingExpiry(); }); });
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
    m_controller.dropHeld(HeldCommand::NextObject);
    if (!m_port.IsOpen()) {
        m_ui.setStatus(kPortNotOpen);
        endUnstarted();
        return;
    }
    m_controller.whenLineFree(HeldCommand::WriteToFlash, [this] { start(); });
}

void FlashWriter::start()
{
    m_pacingTimer.stop();
    if (!m_port.IsOpen()) {
        m_ui.setStatus(kPortNotOpen);
        endUnstarted();
        return;
    }
    m_currentRow = 1;
    m_objectsRemaining = 0;
    for (int row = 1; row < m_list.rowCount(); ++row) {
        if (!m_list.cell(row, ColNumber).isEmpty())
            ++m_objectsRemaining;
    }
    if (m_objectsRemaining == 0) {
        m_ui.setStatus(QStringLiteral("Список пуст"));
        endUnstarted();
        return;
    }
    m_gaugeMaximum = m_objectsRemaining;
    m_ui.setGaugeMaximum(m_gaugeMaximum);
    m_ui.setGaugeVisible(true);
    m_running = true;
    m_errorFlag = false;
    m_totalSent = 0;
    m_started.start();
    uploadStep();
}

void FlashWriter::endUnstarted()
{
    // Whoever waits for the write's end hears of a write that never started as well.
    if (m_running)
        end(false);
    else
        emit finished(false);
}

void FlashWriter::end(bool written)
{
    if (!m_running)
        return;
    m_running = false;
    m_pacingTimer.stop();
    m_controller.dropHeld(HeldCommand::NextObject);
    m_ui.setGaugeVisible(false);
    emit finished(written);
}

void FlashWriter::onUploadSettled(UploadVerdict verdict)
{
    if (!m_running)
        return;
    switch (verdict) {
    case UploadVerdict::Accepted:
        m_pacingTimer.start();
        break;
    case UploadVerdict::Refused:
        m_ui.showMessage(QStringLiteral(
            "Недостаточно места для записи или замкнута перемычка защиты от записи."));
        end(false);
        break;
    case UploadVerdict::NoAnswer:
    case UploadVerdict::Dropped:
        end(false);
        break;
    }
}

void FlashWriter::onPacingExpiry()
{
    m_pacingTimer.stop();
    if (!m_running || m_controller.lineLost())
        return;
    m_controller.whenLineFree(HeldCommand::NextObject, [this] { uploadStep(); });
}

void FlashWriter::uploadStep()
{
    if (!m_running)
        return;
    // Whatever ends the step, a failure nobody catches included, ends the write: the gauge must
    // not stay shown, and an upload whose frame went out without its payload will get no answer.
    try {
        sendRow();
    } catch (...) {
        emit objectNotSent(m_currentRow);
        m_controller.abandonUpload();
        end(false);
        throw;
    }
}

void FlashWriter::sendRow()
{
    m_ui.setGaugeProgress(m_gaugeMaximum - m_objectsRemaining);
    if (m_objectsRemaining == 0) {
        // Timed before the box, which waits for the operator.
        const int64_t elapsedMs = m_started.isValid() ? m_started.elapsed() : 0;
        const int64_t total = m_totalSent;
        m_ui.showMessage(QStringLiteral("Передача успешно завершена. Передано ")
            + QString::number(kilobytesRoundedHalfEven(total)) + QStringLiteral(" кБайт."));
        end(true);
        m_ui.setStatus(completionSummary(total, elapsedMs, m_port.lineBytesPerSecond()));
        return;
    }
    --m_objectsRemaining;

    // The list may have been edited since the write started: rows are read as they are reached,
    // and rows hidden by a shorter list are never sent.
    if (m_currentRow >= m_list.rowCount()) {
        end(false);
        return;
    }
    while (m_list.cell(m_currentRow, ColNumber).isEmpty()) {
        ++m_currentRow;
        if (m_currentRow >= m_list.rowCount()) {
            end(false);
            return;
        }
    }

    const int row = m_currentRow;
    const auto number = parseNumber(m_list.cell(row, ColNumber));
    if (!number) {
        m_ui.showMessage(QStringLiteral("Ошибка в поле \"Номер объекта\""));
        emit objectNotSent(row);
        end(false);
        return;
    }
    const QString typeText = m_list.cell(row, ColType);
    const int type = lookupObjectType(typeText);
    if (type < 0) {
        m_ui.showMessage(QStringLiteral("Неизвестный тип объекта: ") + typeText);
        emit objectNotSent(row);
        end(false);
        return;
    }

    m_errorFlag = false;
    const QString path = m_list.cell(row, ColFile);
    const int64_t sentBefore = m_totalSent;
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

    if (m_errorFlag) {
        emit objectNotSent(row);
        end(false);
        return;
    }
    ++m_currentRow;
    m_ui.setStatus(QStringLiteral("Передаем объект ") + QString::number(*number));
    emit objectSent(row, *number, type, m_totalSent - sentBefore);
}

bool FlashWriter::portReady()
{
    if (m_port.IsOpen())
        return true;
    m_ui.setStatus(kPortNotOpen);
    m_errorFlag = true;
    return false;
}

bool FlashWriter::numberInRange(int32_t number)
{
    if (number >= 0 && number <= kMaxObjectNumber)
        return true;
    m_ui.showMessage(QStringLiteral("Неверный номер объекта: ") + QString::number(number));
    m_errorFlag = true;
    return false;
}

bool FlashWriter::readPayloadOrReport(const QString &path, int32_t &size)
{
    const auto read = readFilePayload(path, m_payload);
    if (!read) {
        m_ui.showMessage(QStringLiteral("Ошибка чтения файла ") + path);
        m_errorFlag = true;
        return false;
    }
    size = *read;
    return true;
}

void FlashWriter::sendPayload(int32_t size)
{
    proto::sendPayload(m_port, m_payload.data(), size);
    m_totalSent += size;
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
        m_errorFlag = true;
        return;
    }
    if (kind == proto::kPictureKindJpeg && !readPayloadOrReport(path, size))
        return;

    m_controller.beginUpload(proto::kImageUpload);
    proto::sendImageUpload(m_port, number, m_picture.width(), m_picture.height(), kind, size);
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
        m_errorFlag = true;
        return;
    }
    if (*height > 255 || *width > 255) {
        m_ui.showMessage(kSizeOutOfRange);
        m_errorFlag = true;
        return;
    }
    int32_t size = 0;
    if (!readPayloadOrReport(path, size))
        return;

    m_controller.beginUpload(proto::kFontUpload);
    proto::sendFontUpload(m_port, number, format, size, *width, *height);
    sendPayload(size);
}

void FlashWriter::uploadScript(const QString &path, int32_t number)
{
    if (!portReady() || !numberInRange(number))
        return;
    int32_t size = 0;
    if (!readPayloadOrReport(path, size))
        return;

    m_controller.beginUpload(proto::kScriptUpload);
    proto::sendScriptUpload(m_port, number, size);
    sendPayload(size);
}

} // namespace ormelin
