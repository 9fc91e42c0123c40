#pragma once
// A scripted operator for tests: records every message, question, status and gauge change, and
// answers questions and file dialogs from queues the test fills beforehand. An unscripted
// question or dialog fails the test instead of guessing an answer.
#include "common/operatorui.h"
#include "eventwait.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QTest>

class FakeOperator : public ormelin::OperatorUi
{
public:
    QStringList messages; // information boxes, in order
    QList<double> messageTimes; // when each came, on the simulator log's clock
    QStringList questions; // Yes/No questions asked, in order
    QStringList statuses; // every status text, in order
    QString statusDetail;
    QString windowTitle = QStringLiteral("Ормелин для Тарвикса");
    bool connected = false;
    int gaugeMaximum = 0;
    QList<int> gaugeProgress; // every progress value set, in order
    bool gaugeVisible = false;
    QList<bool> gaugeVisibility; // every visibility change, in order

    QQueue<bool> answers; // for askYesNo
    QQueue<std::optional<QString>> openChoices; // for chooseOpenFile
    QQueue<std::optional<QString>> saveChoices; // for chooseSaveFile
    QStringList saveSuggestions; // what chooseSaveFile was offered

    QString status() const { return statuses.isEmpty() ? QString() : statuses.last(); }

    void showMessage(const QString &text) override
    {
        messages << text;
        messageTimes << monotonicSeconds();
    }
    bool askYesNo(const QString &text) override
    {
        questions << text;
        if (answers.isEmpty()) {
            QTest::qFail(
                qPrintable(QStringLiteral("unscripted question: ") + text), __FILE__, __LINE__);
            return false;
        }
        return answers.dequeue();
    }
    // The next question that can be left unanswered is: dismissNext says so, else `answers`.
    bool dismissNext = false;
    Answer askYesNoOrDismiss(const QString &text) override
    {
        if (!dismissNext)
            return askYesNo(text) ? Answer::Yes : Answer::No;
        questions << text;
        dismissNext = false;
        return Answer::Dismissed;
    }
    void setStatus(const QString &text) override { statuses << text; }
    void setStatusDetail(const QString &detail) override { statusDetail = detail; }
    QString title() const override { return windowTitle; }
    void setTitle(const QString &t) override { windowTitle = t; }
    void setConnected(bool on) override { connected = on; }
    void setGaugeMaximum(int maximum) override { gaugeMaximum = maximum; }
    void setGaugeProgress(int progress) override { gaugeProgress << progress; }
    void setGaugeVisible(bool visible) override
    {
        gaugeVisible = visible;
        gaugeVisibility << visible;
    }
    std::optional<QString> chooseOpenFile() override
    {
        if (openChoices.isEmpty()) {
            QTest::qFail("unscripted open dialog", __FILE__, __LINE__);
            return std::nullopt;
        }
        return openChoices.dequeue();
    }
    std::optional<QString> chooseSaveFile(const QString &suggested) override
    {
        saveSuggestions << suggested;
        if (saveChoices.isEmpty()) {
            QTest::qFail("unscripted save dialog", __FILE__, __LINE__);
            return std::nullopt;
        }
        return saveChoices.dequeue();
    }
};
