#pragma once
// The list as a document: the remembered list path, the window title that shows it, and the
// operator's save, load and append, the settings file at start-up and at shutdown. Each public
// operation is one call for one button or event of the window.
#include <QObject>
#include <QString>
#include <optional>

namespace ormelin {

class ObjectList;
class OperatorUi;

class ListDocument : public QObject
{
    Q_OBJECT
public:
    ListDocument(ObjectList &list, OperatorUi &ui, QObject *parent = nullptr);

    // The path of the list last loaded or saved; empty at start and after Clear list.
    QString listPath() const { return m_listPath; }
    void setListPath(const QString &path) { m_listPath = path; }
    void forgetListPath() { m_listPath.clear(); }

    // "Сохранить список": the save dialog, offered `suggested` (the window passes nothing to
    // keep the dialog's own last choice), then the list is written. True when it was written.
    bool saveList(const QString &suggested = QString());
    // "Загрузить список": replaces the list with a chosen file's rows; no question is asked.
    void loadList();
    // "Добавить список": a chosen file's rows follow the current last row.
    void appendList();
    // The reader behind load, append and the silent load at start-up. True when the whole file
    // was read; with showErrors false a failure shows nothing.
    bool readListFile(const QString &path, bool showErrors, int offset);

    // Start-up: loads the list named in the settings file, silently.
    void readSettingsFile();
    // Shutdown: remembers the list path for the next start. Failures are ignored.
    void writeSettingsFile() const;
    // Shutdown as a whole: offers to save a changed list, then writes the settings file. False
    // when the operator left the offer unanswered or the save asked for failed: the close is
    // then to be called off, so that the list can still be saved elsewhere or mended, and the
    // settings file is left alone.
    bool saveOnClose();

    // Shutdown with nobody to answer (the system ends the program): a changed list is kept in a
    // file of its own in `folder`, without a question, and a note is left for the next start;
    // then the settings file is written. `keptIn` is empty when nothing needed keeping;
    // `failure` says why a changed list could not be kept.
    struct UnattendedClose
    {
        QString keptIn;
        QString failure;
    };
    UnattendedClose closeUnattended(const QString &folder);
    // Start-up: tells the operator, in the status line, where a list kept at the last
    // unattended close lies, and returns that notice for the window to show once it is up
    // (nothing when no list was kept). The note is taken: the next start says nothing.
    std::optional<QString> reportKeptList(const QString &folder);

private:
    enum class SaveOutcome { Saved, Cancelled, Failed };
    SaveOutcome save(const QString &suggested);

    ObjectList &m_list;
    OperatorUi &m_ui;
    QString m_listPath;
};

} // namespace ormelin
