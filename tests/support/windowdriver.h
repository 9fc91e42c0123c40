#pragma once
// Drives the real window's modal boxes and dialogs from a test: while a box is open the test's
// own code is blocked inside the click that opened it, so a watcher polls for the active modal
// widget and answers it from a script. Every box seen is recorded with its caption and text.
#include "app/commandline.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QQueue>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

// Start-up options for a window under test: an empty device folder of its own, so that neither
// the COM3 of start-up nor any port name a test types or chooses reaches a device of the machine.
// Pseudo-terminals and the simulator are named by their full paths.
inline ormelin::StartUpOptions testStartUp()
{
    static QTemporaryDir devices;
    if (!devices.isValid())
        qFatal("no folder for device names");
    ormelin::StartUpOptions options;
    options.deviceFolder = devices.path();
    return options;
}

// A control of the window by its object name; a missing one ends the test at once.
template <class T> T *child(QWidget *w, const char *name)
{
    T *c = w->findChild<T *>(QString::fromLatin1(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

// A press of one of the window's buttons, with the mouse as the operator would.
inline void click(QWidget *w, const char *button)
{
    QTest::mouseClick(child<QAbstractButton>(w, button), Qt::LeftButton);
}

struct SeenBox
{
    QString kind; // "message", "question", "failure", "open", "save", "other"
    QString caption;
    QString text;
    bool hasIcon = false;
    bool plainText = false; // a box's text shown as it is, never as markup
};

class BoxAnswerer : public QObject
{
public:
    // An answer: for a question true = Yes, or, with the path "escape" or "close" (its close
    // button), left unanswered that way; for a file dialog the path (empty = cancel).
    struct Answer
    {
        bool yes = true;
        QString path;
    };

    BoxAnswerer()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    QList<SeenBox> seen;
    QQueue<Answer> answers; // for questions and file dialogs, in order

    QStringList texts(const QString &kind) const
    {
        QStringList out;
        for (const SeenBox &b : seen)
            if (b.kind == kind)
                out << b.text;
        return out;
    }

private:
    void poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        // A box stays the active modal widget until its answer has been processed; it is answered
        // once (the pointer clears itself when the box is destroyed).
        if (!w || w == m_handling)
            return;
        m_handling = w;
        if (auto *dialog = qobject_cast<QFileDialog *>(w)) {
            const bool save = dialog->acceptMode() == QFileDialog::AcceptSave;
            seen.append({ save ? "save" : "open", dialog->windowTitle(),
                dialog->selectedFiles().value(0) });
            const Answer a = answers.isEmpty() ? Answer { false, {} } : answers.dequeue();
            if (a.path.isEmpty()) {
                dialog->reject();
            } else {
                dialog->selectFile(a.path);
                // A dialog leaves the name field alone while it has the focus (as it has when
                // the dialog opened on a name): the name is typed in there instead.
                auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                if (name && name->hasFocus())
                    name->setText(QFileInfo(a.path).fileName());
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
            QString kind = QStringLiteral("other");
            if (box->objectName() == QLatin1String("MessageBox"))
                kind = QStringLiteral("message");
            else if (box->objectName() == QLatin1String("QuestionBox"))
                kind = QStringLiteral("question");
            else if (box->objectName() == QLatin1String("FailureBox"))
                kind = QStringLiteral("failure");
            seen.append({ kind, box->windowTitle(), box->text(), box->icon() != QMessageBox::NoIcon,
                box->textFormat() == Qt::PlainText });
            if (kind == QLatin1String("question") || box->buttons().size() > 1) {
                const Answer a = answers.isEmpty() ? Answer { false, {} } : answers.dequeue();
                if (a.path == QLatin1String("escape")) {
                    QTest::keyClick(box, Qt::Key_Escape);
                    return;
                }
                if (a.path == QLatin1String("close")) {
                    QMetaObject::invokeMethod(box, "close", Qt::QueuedConnection);
                    return;
                }
                QAbstractButton *b = box->button(a.yes ? QMessageBox::Yes : QMessageBox::No);
                if (!b)
                    b = box->defaultButton();
                QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
            } else {
                // Information and failure boxes: Enter presses their one button.
                QTest::keyClick(box, Qt::Key_Return);
            }
        } else if (auto *d = qobject_cast<QDialog *>(w)) {
            seen.append({ "other", d->windowTitle(), QString() });
            d->reject();
        }
    }

    QTimer m_timer;
    QPointer<QWidget> m_handling;
};
