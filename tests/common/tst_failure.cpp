#include "common/failure.h"

#include <QTest>

using namespace ormelin;

class TestFailure : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { setFailureHandler({}); }

    void guardedRoutesEveryKindOnce()
    {
        QStringList seen;
        setFailureHandler([&](const QString &t) { seen << t; });
        guarded([] { throw Failure(QStringLiteral("Ошибка №1")); });
        guarded([] { throw std::runtime_error("plain"); });
        guarded([] { throw 42; });
        guarded([] {});
        QCOMPARE(seen, QStringList({ "Ошибка №1", "plain", "Unknown failure" }));
    }

    void failingHandlerIsContained()
    {
        setFailureHandler([](const QString &) { throw std::runtime_error("handler broke"); });
        guarded([] { throw Failure(QStringLiteral("x")); }); // must not escape
    }
};

QTEST_GUILESS_MAIN(TestFailure)
#include "tst_failure.moc"
