#include "app/failurebox.h"

#include <QMessageBox>

namespace ormelin {

QString failureBoxText(const QString &failure)
{
    if (!failure.isEmpty() && failure.back().unicode() <= u'.')
        return failure;
    return failure + QLatin1Char('.');
}

void showFailureBox(QWidget *parent, const QString &failure)
{
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, failureBoxText(failure),
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("FailureBox"));
    box.exec();
}

} // namespace ormelin
