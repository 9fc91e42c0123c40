#pragma once
// The operator's edits of the list: the entry fields and the operations behind "Добавить",
// "Очистить строку", "Очистить список", a double click on the grid and the type box. Errors are
// told through the operator interface and leave the list unchanged.
#include <QObject>
#include <QString>

namespace ormelin {

class ListDocument;
class ObjectList;
class OperatorUi;

// The window's one set of entry fields, as texts the way the operator typed them.
struct EntryFields
{
    QString number = QStringLiteral("100");
    int type = 0; // index into objectTypeTexts()
    QString width;
    QString height;
    QString fileName;
    // The width and height fields and their labels are shown only for font types.
    bool fontFieldsVisible = false;

    friend bool operator==(const EntryFields &, const EntryFields &) = default;
};

class ListEditor : public QObject
{
    Q_OBJECT
public:
    ListEditor(ObjectList &list, ListDocument &document, OperatorUi &ui, QObject *parent = nullptr);

    // The window copies its widgets in here before an operation and back on fieldsChanged().
    EntryFields &fields() { return m_fields; }
    const EntryFields &fields() const { return m_fields; }

    // "Добавить": places the object of the entry fields in the list, reusing a free row or
    // updating the row with the same number after asking.
    void addOrUpdateObject();
    // "Очистить строку": empties the selected row; the row stays as a free row.
    void clearRow();
    // "Очистить список": after confirmation one empty entry row remains and the list forgets
    // its file.
    void clearList();
    // Double click on the grid: copies the selected row into the entry fields.
    void editRow();
    // The type box changed: shows or hides the font fields.
    void typeChanged();

signals:
    // An operation rewrote the entry fields (Edit row, Type changed).
    void fieldsChanged();

private:
    ObjectList &m_list;
    ListDocument &m_document;
    OperatorUi &m_ui;
    EntryFields m_fields;
};

} // namespace ormelin
