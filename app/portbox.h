#pragma once
#include <QComboBox>
#include <QString>

namespace ormelin {

struct PortChoice
{
    QString name; // what goes into the box, e.g. "COM3" or "ttyUSB0"
    QString description; // what helps the operator recognise the adapter
};

// "COM1" .. "COM9" as on the operators' Windows benches, then the serial devices actually
// present, found by Qt's serial port enumeration (udev).
QList<PortChoice> portChoices();

// The editable port box. Choosing an entry puts only the port's name into the text; the popup
// shows each device's description beside it.
class PortBox : public QComboBox
{
    Q_OBJECT
public:
    explicit PortBox(QWidget *parent = nullptr);
    void setChoices(const QList<PortChoice> &choices);

signals:
    // Each edit of the text, and each choice from the list, also of the port already shown:
    // choosing it again is how an operator retries it.
    void portChanged(const QString &text);

protected:
    void showPopup() override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // Whether the choice under way (the list shown, a key, the wheel) has announced its port.
    bool m_choiceAnnounced = false;
    // While Qt's box handles the end of an edit: what it activates then is not chosen.
    bool m_editEnding = false;
};

} // namespace ormelin
