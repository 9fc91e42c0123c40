#pragma once
#include <QString>
#include <functional>
#include <stdexcept>
#include <utility>

namespace ormelin {

// Base of the program's own typed failures. It carries only its text, which what() gives as
// UTF-8; the layers derive their own kinds so that callers catch by class.
class Failure : public std::runtime_error
{
public:
    explicit Failure(const QString &text);
    QString text() const { return QString::fromUtf8(what()); }
};

// The one general failure handler: whatever no operation catches ends its event handler and is
// shown here (the window installs a failure box; tests install a recorder). With no handler
// installed the text goes to the log.
using FailureHandler = std::function<void(const QString &text)>;
void setFailureHandler(FailureHandler handler);
void reportFailure(const QString &text);

// The text a failure is reported with: a Failure's own text, any other exception's what().
QString failureText(const std::exception &e);

// Every entry point from Qt (slot, timer, serial delivery) runs its work through this, so that
// no exception ever crosses Qt's event loop.
template <class F> void guarded(F &&work) noexcept
{
    try {
        std::forward<F>(work)();
    } catch (const std::exception &e) {
        reportFailure(failureText(e));
    } catch (...) {
        reportFailure(QStringLiteral("Unknown failure"));
    }
}

} // namespace ormelin
