#include "app/portbox.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <QStyledItemDelegate>

#include <algorithm>

namespace ormelin {

namespace {

constexpr int kDescriptionRole = Qt::UserRole + 1;

class ChoiceDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(kDescriptionRole).toString();
        if (!description.isEmpty())
            option->text += QStringLiteral("  —  ") + description;
    }
};

} // namespace

QList<PortChoice> portChoices()
{
    QList<PortChoice> choices;
    for (int n = 1; n <= 9; ++n)
        choices.append({ QStringLiteral("COM%1").arg(n), QString() });
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QStringList parts;
        if (!info.description().isEmpty())
            parts << info.description();
        if (!info.manufacturer().isEmpty() && info.manufacturer() != info.description())
            parts << info.manufacturer();
        if (!info.serialNumber().isEmpty())
            parts << QStringLiteral("S/N ") + info.serialNumber();
        choices.append({ info.portName(), parts.join(QStringLiteral(", ")) });
    }
    return choices;
}

PortBox::PortBox(QWidget *parent)
    : QComboBox(parent)
{
    // Qt's box takes the end of an edit (the text losing the focus, as it does when the list
    // opens, or Enter) for a choice of the item of that name. The operator chose nothing, and
    // announcing it would reopen the port under a write. The flag spans the box's own handler,
    // connected between these two.
    auto *edit = new QLineEdit(this);
    connect(edit, &QLineEdit::editingFinished, this, [this] { m_editEnding = true; });
    setLineEdit(edit);
    connect(edit, &QLineEdit::editingFinished, this, [this] { m_editEnding = false; });
    setInsertPolicy(QComboBox::NoInsert);
    // Port names are typed as they are; completion would change the text behind the operator's
    // back and open ports nobody asked for.
    setCompleter(nullptr);
    setItemDelegate(new ChoiceDelegate(this));
    connect(this, &QComboBox::editTextChanged, this, [this](const QString &text) {
        m_choiceAnnounced = true;
        emit portChanged(text);
    });
    // A choice that changed the text was announced as that edit; one that did not is announced
    // here, once: Enter in the list reports the same choice twice (as a shortcut and as a key).
    connect(this, &QComboBox::textActivated, this, [this](const QString &text) {
        if (m_editEnding)
            return;
        if (!m_choiceAnnounced)
            emit portChanged(text);
        m_choiceAnnounced = true;
    });
}

void PortBox::setChoices(const QList<PortChoice> &choices)
{
    const QString text = currentText();
    const QSignalBlocker block(this);
    clear();
    for (const PortChoice &c : choices) {
        addItem(c.name);
        setItemData(count() - 1, c.description, kDescriptionRole);
        if (!c.description.isEmpty())
            setItemData(count() - 1, c.description, Qt::ToolTipRole);
    }
    setCurrentIndex(-1);
    setEditText(text);
}

void PortBox::showPopup()
{
    // Adapters come and go while the program runs: list what is plugged in now, and the port
    // shown, so that a typed one can be chosen again to retry it.
    QList<PortChoice> choices = portChoices();
    const QString shown = currentText();
    if (!shown.isEmpty()
        && std::none_of(
            choices.cbegin(), choices.cend(), [&](const PortChoice &c) { return c.name == shown; }))
        choices.append({ shown, QString() });
    setChoices(choices);
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 24);
    m_choiceAnnounced = false;
    QComboBox::showPopup();
}

// The arrow keys and the wheel choose without the popup.
void PortBox::keyPressEvent(QKeyEvent *event)
{
    m_choiceAnnounced = false;
    QComboBox::keyPressEvent(event);
}

void PortBox::wheelEvent(QWheelEvent *event)
{
    m_choiceAnnounced = false;
    QComboBox::wheelEvent(event);
}

} // namespace ormelin
