#include "objlist/listeditor.h"

#include "common/failure.h"
#include "common/numparse.h"
#include "common/operatorui.h"
#include "objlist/changemark.h"
#include "objlist/listdocument.h"
#include "objlist/objectlist.h"

#include <cstdint>

namespace ormelin {
namespace {

// Object numbers are compared and stored as the 16 bits the wire carries: -1 is 65535, 65537
// is 1.
int low16(std::int32_t value)
{
    return int(std::uint16_t(std::uint32_t(value)));
}

QString typeText(int type)
{
    const QStringList &texts = objectTypeTexts();
    if (type < 0 || type >= texts.size())
        throw Failure(QStringLiteral("Object type index %1 out of range").arg(type));
    return texts[type];
}

} // namespace

ListEditor::ListEditor(ObjectList &list, ListDocument &document, OperatorUi &ui, QObject *parent)
    : QObject(parent)
    , m_list(list)
    , m_document(document)
    , m_ui(ui)
{
}

void ListEditor::addOrUpdateObject()
{
    const std::optional<std::int32_t> parsedNumber = parseNumber(m_fields.number);
    if (!parsedNumber) {
        m_ui.showMessage(QStringLiteral("Ошибка в поле \"Номер объекта\""));
        return;
    }
    const int number = low16(*parsedNumber);
    if (number > kMaxObjectNumber) {
        m_ui.showMessage(
            QStringLiteral("Максимальный номер объекта ") + QString::number(kMaxObjectNumber));
        return;
    }

    const QString type = typeText(m_fields.type);
    const bool font = isFontTypeText(type);
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (font) {
        bool refused = false;
        const std::optional<std::int32_t> w = parseNumber(m_fields.width);
        const std::optional<std::int32_t> h = w ? parseNumber(m_fields.height) : std::nullopt;
        if (w)
            width = *w;
        if (h)
            height = *h;
        if (!w || !h) {
            m_ui.showMessage(
                QStringLiteral("Ошибка в поле \"Высота символа\" и/или \"Ширина символа\""));
            refused = true;
        }
        // Only the upper bound: the byte sent is the low eight bits, so -1 goes out as 0xFF.
        if (height > 255 || width > 255) {
            m_ui.showMessage(QStringLiteral("Недопустимая ширина или высота символа"));
            refused = true;
        }
        if (refused)
            return;
    }

    if (m_fields.fileName.isEmpty()) {
        m_ui.showMessage(QStringLiteral("В поле \"Файл с объектом\" должно быть имя файла"));
        return;
    }

    int target = 1;
    for (; target < m_list.rowCount(); ++target) {
        const QString cell = m_list.cell(target, ColNumber);
        if (cell.isEmpty())
            break;
        const std::optional<std::int32_t> rowNumber = parseNumber(cell);
        if (!rowNumber || low16(*rowNumber) > kMaxObjectNumber)
            break; // not a usable entry: overwritten
        if (low16(*rowNumber) == number) {
            if (!m_ui.askYesNo(QStringLiteral("Объект с таким номером существует. Обновить?")))
                return;
            break;
        }
    }
    if (target == m_list.rowCount())
        m_list.setRowCount(target + 1);

    ObjectList::Batch batch(m_list);
    m_list.setCell(target, ColNumber, QString::number(number));
    m_list.setCell(target, ColType, type);
    if (font) {
        m_list.setCell(target, ColWidth, QString::number(width));
        m_list.setCell(target, ColHeight, QString::number(height));
    }
    m_list.setCell(target, ColFile, m_fields.fileName);
    markChanged(m_ui);
}

void ListEditor::clearRow()
{
    const int row = m_list.selectedRow();
    if (row < 0 || row >= m_list.rowCount())
        return;
    m_list.clearRow(row);
    markChanged(m_ui);
}

void ListEditor::clearList()
{
    if (!m_ui.askYesNo(QStringLiteral("Удалить все записи из списка?")))
        return;
    m_list.setRowCount(2);
    m_list.clearRow(1);
    m_ui.setTitle(windowTitleFor(QString()));
    m_document.forgetListPath();
}

void ListEditor::editRow()
{
    const int row = m_list.selectedRow();
    if (row < 0 || row >= m_list.rowCount() || m_list.cell(row, ColNumber).isEmpty())
        return;
    const QString type = m_list.cell(row, ColType);
    const int index = lookupObjectType(type);
    if (index < 0) {
        m_ui.showMessage(QStringLiteral("Неверный тип объекта: ") + type);
        return;
    }
    m_fields.number = m_list.cell(row, ColNumber);
    m_fields.type = index;
    m_fields.fontFieldsVisible = isFontTypeText(objectTypeTexts()[index]);
    m_fields.width = m_list.cell(row, ColWidth);
    m_fields.height = m_list.cell(row, ColHeight);
    m_fields.fileName = m_list.cell(row, ColFile);
    emit fieldsChanged();
}

void ListEditor::typeChanged()
{
    const QStringList &texts = objectTypeTexts();
    const bool font = m_fields.type >= 0 && m_fields.type < texts.size()
        && isFontTypeText(texts[m_fields.type]);
    if (font == m_fields.fontFieldsVisible)
        return;
    m_fields.fontFieldsVisible = font;
    emit fieldsChanged();
}

} // namespace ormelin
