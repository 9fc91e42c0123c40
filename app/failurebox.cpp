#include "app/failurebox.h"

#include <QMessageBox>

namespace ormelin {

QString failureBoxText(const QString &failure)
{
    if (!failure.isEmpty() && failure.back().unicode() <= u'.')
        return failure;
    return failure + QLatin1Char('.');
}

QString boundedBoxText(const QString &text)
{
    if (text.size() <= kMaxBoxTextLength)
        return text;
    qsizetype keep = kMaxBoxTextLength;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + QChar(0x2026);
}

void showFailureBox(QWidget *parent, const QString &failure)
{
    QMessageBox box(QMessageBox::Critical, kApplicationTitle,
        boundedBoxText(failureBoxText(failure)), QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("FailureBox"));
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace ormelin
