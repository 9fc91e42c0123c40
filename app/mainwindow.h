#pragma once
// app/ is the program's one window, TSendForm, and its start-up: it owns every long-lived piece
// (object list, list document, serial component, device link, dialogs), places the controls
// where operators expect them, wires each control to its operation, and implements the operator
// interface with real modal boxes. Every entry point from Qt runs under the failure guard; what
// nothing catches is shown in the general failure box and the program goes on.
#include "app/commandline.h"
#include "common/operatorui.h"
#include "link/devicelink.h"
#include "objlist/listdocument.h"
#include "objlist/listeditor.h"
#include "objlist/objectlist.h"
#include "objlist/objectlistmodel.h"
#include "serial/vacomm.h"

#include <QMainWindow>
#include <memory>

class QComboBox;
class QFileDialog;
class QFrame;
class QHelpEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QToolButton;

namespace ormelin {

class AnchorLayout;
class PicturePreviewer;
class PortBox;
class ProgressGauge;

class TSendForm : public QMainWindow, public OperatorUi
{
    Q_OBJECT
public:
    // Creates the window and runs start-up before it is shown: the port box's port (COM3 unless
    // the options name another) is opened and checked, RTS is set off and DTR on, and the list
    // the options name, or else the one remembered in the settings file, is loaded.
    explicit TSendForm(const StartUpOptions &options, QWidget *parent = nullptr);
    ~TSendForm() override;

    static constexpr QSize kDesignClientSize { 939, 680 }; // above the status bar
    static constexpr int kStatusBarHeight = 20;

    // OperatorUi
    void showMessage(const QString &text) override;
    bool askYesNo(const QString &text) override;
    Answer askYesNoOrDismiss(const QString &text) override;
    void setStatus(const QString &text) override;
    void setStatusDetail(const QString &detail) override;
    QString title() const override;
    void setTitle(const QString &title) override;
    void setConnected(bool on) override;
    void setGaugeMaximum(int maximum) override;
    void setGaugeProgress(int progress) override;
    void setGaugeVisible(bool visible) override;
    std::optional<QString> chooseOpenFile() override;
    std::optional<QString> chooseSaveFile(const QString &suggested) override;

    // Closes the window with nobody to answer, as when the system ends the program: a changed
    // list is kept in a file of its own (said on standard error and, at the next start, in the
    // status line) instead of being offered for saving.
    void closeUnattended();
    // Where such a list is kept: the user's data folder for the program.
    static QString recoveryFolder();

    ObjectList &objectList() { return m_list; }
    ListDocument &document() { return m_document; }
    DeviceLink &link() { return *m_link; }
    TVaComm &comm() { return Comm; }
    QString statusText() const;

signals:
    // Every status text as it is shown, for whoever watches the status line.
    void statusShown(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls(const StartUpOptions &options);
    void setKeyboardOrder();
    void wireControls();
    void startUp(const StartUpOptions &options);

    // Picture previews on the grid's file cells and the file name field.
    bool showPicturePreview(QHelpEvent *event, QWidget *over);
    // Files dropped on the entry area or on the grid.
    enum class DropTarget { None, Entry, Grid };
    DropTarget dropTarget(QWidget *receiver, QPointF position) const;
    void dropFile(DropTarget target, const QString &path);
    void loadListFile(const QString &path);

    void fieldsFromWidgets();
    void widgetsFromFields();
    void selectGridRow(int listRow);

    // Handlers, named after their control and event.
    void AddBtnClick();
    void BrowseBtnClick();
    void TypeComboChange();
    void StringGridDblClick();
    void PortComboChange(const QString &text);

    ObjectList m_list;
    ListDocument m_document;
    ListEditor m_editor;
    ObjectListModel m_model;
    TVaComm Comm;
    std::unique_ptr<DeviceLink> m_link;
    std::unique_ptr<AnchorLayout> m_anchors;
    std::unique_ptr<PicturePreviewer> m_previewer;
    QString m_lastOpenChoice; // the one open dialog starts from the file last chosen in it
    QString m_lastSaveChoice;
    bool m_shutDown = false;
    bool m_unattended = false;
    QString m_keptListNotice; // shown in a box once the window is up

    QWidget *m_client = nullptr;
    QFrame *m_entryFrame = nullptr;
    QLineEdit *NumEdit = nullptr;
    QComboBox *TypeCombo = nullptr;
    QLineEdit *FNameEdit = nullptr;
    QToolButton *BrowseBtn = nullptr;
    QLabel *WidthLabel = nullptr;
    QLineEdit *WidthEdit = nullptr;
    QLabel *HeightLabel = nullptr;
    QLineEdit *HeightEdit = nullptr;
    QPushButton *AddBtn = nullptr;
    QTableView *StringGrid = nullptr;
    QPushButton *ClearListBtn = nullptr;
    QPushButton *SaveListBtn = nullptr;
    QPushButton *LoadListBtn = nullptr;
    QPushButton *AppendListBtn = nullptr;
    QPushButton *ClearRowBtn = nullptr;
    QPushButton *ExecBtn = nullptr;
    PortBox *PortCombo = nullptr;
    QToolButton *CheckBtn = nullptr;
    QLabel *ConnLabel = nullptr;
    ProgressGauge *ProgrBar = nullptr;
    QPushButton *WriteBtn = nullptr;
    QPushButton *EraseBtn = nullptr;
    QPushButton *ExitBtn = nullptr;
    QLabel *StatBar = nullptr;
};

} // namespace ormelin
