#include "app/failurebox.h"
#include "app/mainwindow.h"
#include "common/failure.h"

#include <QApplication>

namespace {

// A last line of defence: every handler of ours runs under the failure guard, but an exception
// that still reaches Qt's event dispatch is shown instead of ending the program.
class OrmelinApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception &e) {
            ormelin::reportFailure(ormelin::failureText(e));
        } catch (...) {
            ormelin::reportFailure(QStringLiteral("Unknown failure"));
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    OrmelinApplication app(argc, argv);
    QApplication::setApplicationName(ormelin::kApplicationTitle);
    ormelin::TSendForm window;
    window.show();
    return app.exec();
}
