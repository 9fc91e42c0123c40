#pragma once
#include <QString>
#include <optional>

namespace ormelin {

// Everything the program's logic says to or asks of the operator goes through this interface.
// The main window implements it with real widgets and modal boxes; tests implement it with
// scripted answers and a record of what was shown. Nothing below the window includes widgets.
class OperatorUi
{
public:
    virtual ~OperatorUi() = default;

    // Modal information box: the application title as caption, one OK button.
    virtual void showMessage(const QString &text) = 0;
    // Modal Yes/No question captioned "Хороший вопрос", Yes the default; true for Yes.
    virtual bool askYesNo(const QString &text) = 0;
    // The same question for a step the operator can still call off: the box closed without an
    // answer (Escape, its close button) is an answer of its own, never No.
    enum class Answer { Yes, No, Dismissed };
    virtual Answer askYesNoOrDismiss(const QString &text) = 0;

    // The single text of the status bar; every call replaces the previous one.
    virtual void setStatus(const QString &text) = 0;
    // Further detail behind the status text (the window shows it as the status bar's tooltip),
    // such as the serial component's own reason why a port did not open. Empty clears it.
    virtual void setStatusDetail(const QString &detail) = 0;

    // The window title, which also carries the list's change mark " *".
    virtual QString title() const = 0;
    virtual void setTitle(const QString &title) = 0;

    // The "На связи" connection indicator.
    virtual void setConnected(bool on) = 0;

    // The progress gauge of a write to flash.
    virtual void setGaugeMaximum(int maximum) = 0;
    virtual void setGaugeProgress(int progress) = 0;
    virtual void setGaugeVisible(bool visible) = 0;

    // File choice: the open dialog ("Выберите файл", all files) shared by browsing, loading and
    // appending, and the save dialog for list files, prefilled with a suggested name. Nothing
    // when the operator cancels.
    virtual std::optional<QString> chooseOpenFile() = 0;
    virtual std::optional<QString> chooseSaveFile(const QString &suggested) = 0;
};

} // namespace ormelin
