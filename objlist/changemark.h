#pragma once
// The window title carries the list's state: the path of the list and the change mark " *". The
// list counts as changed exactly while the title contains "*".
#include <QString>

namespace ormelin {

class OperatorUi;

// The title before any list was loaded or saved (no trailing blank).
QString initialWindowTitle();
// "Ормелин для Тарвикса " followed by the path; an empty path leaves the trailing blank.
QString windowTitleFor(const QString &listPath);

void markChanged(OperatorUi &ui);
bool isChanged(const OperatorUi &ui);

} // namespace ormelin
