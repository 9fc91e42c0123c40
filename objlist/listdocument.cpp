#include "objlist/listdocument.h"

#include "common/operatorui.h"
#include "objlist/changemark.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"
#include "objlist/recovery.h"

namespace ormelin {

ListDocument::ListDocument(ObjectList &list, OperatorUi &ui, QObject *parent)
    : QObject(parent)
    , m_list(list)
    , m_ui(ui)
{
}

bool ListDocument::saveList(const QString &suggested)
{
    return save(suggested) == SaveOutcome::Saved;
}

ListDocument::SaveOutcome ListDocument::save(const QString &suggested)
{
    const std::optional<QString> chosen = m_ui.chooseSaveFile(suggested);
    if (!chosen)
        return SaveOutcome::Cancelled;
    QString reason;
    if (!listfile::write(*chosen, m_list, &reason)) {
        m_ui.showMessage(QStringLiteral("Ошибка записи файла ") + *chosen + u'\n' + reason);
        return SaveOutcome::Failed;
    }
    m_ui.setTitle(windowTitleFor(*chosen));
    m_listPath = *chosen;
    return SaveOutcome::Saved;
}

void ListDocument::loadList()
{
    const std::optional<QString> chosen = m_ui.chooseOpenFile();
    if (!chosen)
        return;
    readListFile(*chosen, true, 0);
    // Remembered even when the file did not read: it is the list the operator is working on.
    m_listPath = *chosen;
}

void ListDocument::appendList()
{
    const std::optional<QString> chosen = m_ui.chooseOpenFile();
    if (!chosen)
        return;
    readListFile(*chosen, true, m_list.rowCount() - 1);
}

bool ListDocument::readListFile(const QString &path, bool showErrors, int offset)
{
    switch (listfile::read(path, m_list, offset)) {
    case listfile::ReadResult::Ok:
        if (offset == 0)
            m_ui.setTitle(windowTitleFor(path));
        return true;
    case listfile::ReadResult::ReadError:
        if (showErrors) {
            m_ui.showMessage(QStringLiteral("Ошибка чтения файла ") + path
                + QStringLiteral(". Файл имеет неверный формат или поврежден"));
        }
        return false;
    case listfile::ReadResult::FormatError:
        if (showErrors)
            m_ui.showMessage(QStringLiteral("Ошибка формата файла") + path);
        return false;
    }
    return false;
}

void ListDocument::readSettingsFile()
{
    const std::optional<QString> path = listfile::readSettings();
    if (!path)
        return;
    readListFile(*path, false, 0);
    m_listPath = *path;
    m_ui.setTitle(windowTitleFor(*path));
}

void ListDocument::writeSettingsFile() const
{
    listfile::writeSettings(m_listPath);
}

bool ListDocument::saveOnClose()
{
    if (isChanged(m_ui)) {
        switch (m_ui.askYesNoOrDismiss(QStringLiteral("Сохранить измененный список в файле?"))) {
        case OperatorUi::Answer::Dismissed:
            // No answer is no leave to throw the changes away.
            return false;
        case OperatorUi::Answer::Yes:
            if (save(m_listPath) == SaveOutcome::Failed)
                return false;
            break;
        case OperatorUi::Answer::No:
            break;
        }
    }
    writeSettingsFile();
    return true;
}

ListDocument::UnattendedClose ListDocument::closeUnattended(const QString &folder)
{
    UnattendedClose outcome;
    if (isChanged(m_ui)) {
        if (const std::optional<QString> kept
            = recovery::keepList(m_list, folder, &outcome.failure)) {
            outcome.keptIn = *kept;
            recovery::leaveNote(folder, *kept);
        }
    }
    writeSettingsFile();
    return outcome;
}

std::optional<QString> ListDocument::reportKeptList(const QString &folder)
{
    const std::optional<QString> keptIn = recovery::takeNote(folder);
    if (!keptIn)
        return std::nullopt;
    const QString notice
        = QStringLiteral("Список, не сохраненный при прошлом закрытии, записан в файл ") + *keptIn;
    m_ui.setStatus(notice);
    return notice;
}

} // namespace ormelin
