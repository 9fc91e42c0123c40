#include "common/failure.h"

#include <QDebug>

namespace ormelin {
namespace {
FailureHandler &handler()
{
    static FailureHandler h;
    return h;
}
} // namespace

Failure::Failure(const QString &text)
    : std::runtime_error(text.toStdString())
{
}

void setFailureHandler(FailureHandler h)
{
    handler() = std::move(h);
}

void reportFailure(const QString &text)
{
    if (handler()) {
        // A handler that fails itself must not take the event loop down with it.
        try {
            handler()(text);
            return;
        } catch (...) {
        }
    }
    qWarning().noquote() << text;
}

QString failureText(const std::exception &e)
{
    return QString::fromUtf8(e.what());
}

} // namespace ormelin
