#pragma once
#include <QString>

class QWidget;

namespace ormelin {

inline const QString kApplicationTitle = QStringLiteral("Ормелин");

// The text of the general failure box: a full stop is appended unless the text already ends in
// one or in a character that sorts before it (a blank, "!", ")").
QString failureBoxText(const QString &failure);

// Longer box texts are cut to this many characters and "…": a text of megabytes (a message
// naming a cell of a hand-made list file) takes a box many seconds to lay out, with the window
// frozen meanwhile, and nobody reads past the first lines anyway.
inline constexpr int kMaxBoxTextLength = 1000;
QString boundedBoxText(const QString &text);

// Shows the general failure box (error icon, caption "Ормелин", OK) and returns when the operator
// has closed it.
void showFailureBox(QWidget *parent, const QString &failure);

} // namespace ormelin
