#include "objlist/changemark.h"

#include "common/operatorui.h"

namespace ormelin {

QString initialWindowTitle()
{
    return QStringLiteral("Ормелин для Тарвикса");
}

QString windowTitleFor(const QString &listPath)
{
    return initialWindowTitle() + u' ' + listPath;
}

void markChanged(OperatorUi &ui)
{
    const QString title = ui.title();
    if (!title.contains(u'*'))
        ui.setTitle(title + QStringLiteral(" *"));
}

bool isChanged(const OperatorUi &ui)
{
    return ui.title().contains(u'*');
}

} // namespace ormelin
