#pragma once
#include <QString>

class QWidget;

namespace ormelin {

inline const QString kApplicationTitle = QStringLiteral("Ормелин");

// The text of the general failure box: a full stop is appended unless the text already ends in
// one or in a character that sorts before it (a blank, "!", ")").
QString failureBoxText(const QString &failure);

// Shows the general failure box (error icon, caption "Ормелин", OK) and returns when the operator
// has closed it.
void showFailureBox(QWidget *parent, const QString &failure);

} // namespace ormelin
