#include "app/mainwindow.h"

#include "app/anchors.h"
#include "app/failurebox.h"
#include "app/gauge.h"
#include "app/picturepreview.h"
#include "app/portbox.h"
#include "common/failure.h"
#include "objlist/changemark.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTextDocument>
#include <QToolButton>
#include <QToolTip>

#include <cstdio>
#include <utility>

namespace ormelin {

namespace {

constexpr Anchors kTopRight = Anchors(Anchor::Top) | Anchor::Right;
constexpr Anchors kLeftTopRight = Anchors(Anchor::Left) | Anchor::Top | Anchor::Right;
constexpr Anchors kAll = Anchors(Anchor::Left) | Anchor::Top | Anchor::Right | Anchor::Bottom;
constexpr Anchors kLeftBottom = Anchors(Anchor::Left) | Anchor::Bottom;
constexpr Anchors kRightBottom = Anchors(Anchor::Right) | Anchor::Bottom;
constexpr Anchors kLeftRightBottom = Anchors(Anchor::Left) | Anchor::Right | Anchor::Bottom;

constexpr int kEditHeight = 21;
constexpr int kComboHeight = 21;

QFont headingFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(16);
    f.setBold(true);
    return f;
}

// Runs a handler from Qt under the failure guard.
template <class F> auto guard(F &&f)
{
    return [f = std::forward<F>(f)](auto &&...) { guarded(f); };
}

} // namespace

TSendForm::TSendForm(const StartUpOptions &options, QWidget *parent)
    : QMainWindow(parent)
    , m_document(m_list, *this)
    , m_editor(m_list, m_document, *this)
    , m_model(m_list)
{
    setObjectName(QStringLiteral("SendForm"));
    setWindowTitle(initialWindowTitle());
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);

    configureCommForTarviks(Comm);
    Comm.SetDeviceFolder(options.deviceFolder);
    m_link = std::make_unique<DeviceLink>(Comm, m_list, *this);

    createControls(options);
    setKeyboardOrder();
    wireControls();
    setFailureHandler([this](const QString &text) { showFailureBox(this, text); });

    // Start-up failures are reported like any other; the window still comes up, with every
    // control wired.
    guarded([&] { startUp(options); });
    PortCombo->setFocus();
}

TSendForm::~TSendForm()
{
    setFailureHandler({});
    // The link's handlers go before the component closes its port.
    m_link.reset();
    Comm.Close();
}

void TSendForm::createControls(const StartUpOptions &options)
{
    m_client = new QWidget(this);
    setCentralWidget(m_client);
    m_anchors = std::make_unique<AnchorLayout>(kDesignClientSize);
    AnchorLayout &a = *m_anchors;

    auto frame = [&](QRect r, Anchors anchors) {
        auto *f = new QFrame(m_client);
        f->setFrameShape(QFrame::Box);
        f->setFrameShadow(QFrame::Sunken);
        a.place(f, r, anchors);
        return f;
    };
    auto label = [&](const QString &text, QPoint at, Anchors anchors = kAnchorLeftTop,
                     const QFont *font = nullptr) {
        auto *l = new QLabel(text, m_client);
        if (font)
            l->setFont(*font);
        l->adjustSize();
        a.place(l, QRect(at, l->sizeHint()), anchors);
        return l;
    };
    auto button
        = [&](const QString &name, const QString &text, QRect r, Anchors anchors = kAnchorLeftTop) {
              auto *b = new QPushButton(text, m_client);
              b->setObjectName(name);
              a.place(b, r, anchors);
              return b;
          };
    const QFont heading = headingFont();

    // Entry area.
    m_entryFrame = frame(QRect(0, 8, 935, 193), kLeftTopRight);
    label(QStringLiteral("Добавить запись"), QPoint(136, 16), kAnchorLeftTop, &heading);
    label(QStringLiteral("Номер объекта:"), QPoint(32, 48));
    NumEdit = new QLineEdit(QStringLiteral("100"), m_client);
    NumEdit->setObjectName(QStringLiteral("NumEdit"));
    a.place(NumEdit, QRect(136, 48, 121, kEditHeight));
    label(QStringLiteral("Тип объекта:"), QPoint(32, 72));
    TypeCombo = new QComboBox(m_client);
    TypeCombo->setObjectName(QStringLiteral("TypeCombo"));
    TypeCombo->addItems(objectTypeTexts());
    TypeCombo->setCurrentIndex(0);
    a.place(TypeCombo, QRect(136, 72, 193, kComboHeight));
    label(QStringLiteral("Файл с объектом:"), QPoint(32, 96));
    FNameEdit = new QLineEdit(m_client);
    FNameEdit->setObjectName(QStringLiteral("FNameEdit"));
    a.place(FNameEdit, QRect(136, 96, 417, kEditHeight));
    BrowseBtn = new QToolButton(m_client);
    BrowseBtn->setObjectName(QStringLiteral("BrowseBtn"));
    BrowseBtn->setAutoRaise(true);
    BrowseBtn->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    // A flat picture button stays out of the Tab order; the keyboard reaches it by its key.
    BrowseBtn->setFocusPolicy(Qt::NoFocus);
    BrowseBtn->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    BrowseBtn->setToolTip(QStringLiteral("Выбрать файл (Ctrl+O)"));
    a.place(BrowseBtn, QRect(559, 96, 23, 22));
    WidthLabel = label(QStringLiteral("Ширина символа:"), QPoint(40, 128));
    WidthEdit = new QLineEdit(m_client);
    WidthEdit->setObjectName(QStringLiteral("WidthEdit"));
    a.place(WidthEdit, QRect(136, 128, 49, kEditHeight));
    HeightLabel = label(QStringLiteral("Высота символа:"), QPoint(208, 128));
    HeightEdit = new QLineEdit(m_client);
    HeightEdit->setObjectName(QStringLiteral("HeightEdit"));
    a.place(HeightEdit, QRect(304, 128, 49, kEditHeight));
    AddBtn = button(QStringLiteral("AddBtn"), QStringLiteral("Добавить"), QRect(138, 163, 105, 25));
    AddBtn->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    AddBtn->setLayoutDirection(Qt::RightToLeft); // picture on the right

    // List area.
    frame(QRect(0, 208, 936, 401), kAll);
    StringGrid = new QTableView(m_client);
    StringGrid->setObjectName(QStringLiteral("StringGrid"));
    StringGrid->setModel(&m_model);
    StringGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the grid for the next control; the arrow keys move between its cells.
    StringGrid->setTabKeyNavigation(false);
    StringGrid->verticalHeader()->hide();
    StringGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid->verticalHeader()->setDefaultSectionSize(ObjectListModel::kRowHeight);
    StringGrid->horizontalHeader()->setFixedHeight(ObjectListModel::kRowHeight);
    StringGrid->horizontalHeader()->setHighlightSections(false);
    for (int c = 0; c < kColumnCount; ++c)
        StringGrid->setColumnWidth(c, ObjectListModel::columnWidth(c));
    a.place(StringGrid, QRect(8, 216, 744, 385), kAll);
    label(QStringLiteral("Работа со списком"), QPoint(758, 216), kTopRight, &heading);
    const QStringList listButtons
        = { QStringLiteral("Очистить список"), QStringLiteral("Сохранить список"),
              QStringLiteral("Загрузить список"), QStringLiteral("Добавить список"),
              QStringLiteral("Очистить строку"), QStringLiteral("Выполнить из флэш") };
    const QStringList listNames = { QStringLiteral("ClearListBtn"), QStringLiteral("SaveListBtn"),
        QStringLiteral("LoadListBtn"), QStringLiteral("AppendListBtn"),
        QStringLiteral("ClearRowBtn"), QStringLiteral("ExecBtn") };
    QPushButton **listSlots[]
        = { &ClearListBtn, &SaveListBtn, &LoadListBtn, &AppendListBtn, &ClearRowBtn, &ExecBtn };
    for (int i = 0; i < listButtons.size(); ++i)
        *listSlots[i]
            = button(listNames[i], listButtons[i], QRect(760, 248 + 32 * i, 135, 25), kTopRight);

    // Port area.
    frame(QRect(0, 615, 209, 66), kLeftBottom);
    label(QStringLiteral("Порт для связи с Тарвиксом:"), QPoint(8, 623), kLeftBottom);
    PortCombo = new PortBox(m_client);
    PortCombo->setObjectName(QStringLiteral("PortCombo"));
    PortCombo->setChoices(portChoices());
    PortCombo->setEditText(options.port);
    a.place(PortCombo, QRect(8, 647, 65, kComboHeight), kLeftBottom);
    CheckBtn = new QToolButton(m_client);
    CheckBtn->setObjectName(QStringLiteral("CheckBtn"));
    CheckBtn->setAutoRaise(true);
    CheckBtn->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    CheckBtn->setToolTip(QStringLiteral("Проверить соединение"));
    CheckBtn->setFocusPolicy(Qt::NoFocus);
    a.place(CheckBtn, QRect(78, 647, 23, 22), kLeftBottom);
    ConnLabel = label(QStringLiteral("На связи"), QPoint(112, 647), kLeftBottom, &heading);
    ConnLabel->setObjectName(QStringLiteral("ConnLabel"));
    ConnLabel->setEnabled(false);

    // Flash area.
    frame(QRect(216, 616, 599, 65), kLeftRightBottom);
    label(QStringLiteral("Работа с флэш"), QPoint(224, 624), kLeftBottom, &heading);
    ProgrBar = new ProgressGauge(m_client);
    ProgrBar->setObjectName(QStringLiteral("ProgrBar"));
    a.place(ProgrBar, QRect(368, 624, 441, 20), kLeftRightBottom);
    ProgrBar->hide();
    WriteBtn = button(QStringLiteral("WriteBtn"), QStringLiteral("Записать во флэш"),
        QRect(224, 648, 137, 25), kLeftBottom);
    WriteBtn->setToolTip(QStringLiteral("Записывает все объекты во флэш Тарвикса"));
    EraseBtn = button(QStringLiteral("EraseBtn"), QStringLiteral("Очистить флэш"),
        QRect(368, 648, 137, 25), kLeftBottom);
    ExitBtn = button(
        QStringLiteral("ExitBtn"), QStringLiteral("Выход"), QRect(824, 651, 105, 25), kRightBottom);

    StatBar = new QLabel(QStringLiteral("V1.0"));
    StatBar->setObjectName(QStringLiteral("StatBar"));
    // Status texts carry port names and paths as typed: never markup.
    StatBar->setTextFormat(Qt::PlainText);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(true);
    statusBar()->setFixedHeight(kStatusBarHeight);
    statusBar()->addWidget(StatBar, 1);

    // The entry fields start hidden until a font type is chosen.
    widgetsFromFields();

    const QSize client(kDesignClientSize.width(), kDesignClientSize.height() + kStatusBarHeight);
    resize(client);
    setMinimumSize(637, 501);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect placed(QPoint(), client);
        placed.moveCenter(screen->availableGeometry().center());
        move(placed.topLeft());
    }
}

void TSendForm::setKeyboardOrder()
{
    // The entry controls in the order the operators are used to, then the buttons as they stand
    // on the window, back to the port box.
    const QList<QWidget *> order = { PortCombo, StringGrid, NumEdit, TypeCombo, FNameEdit,
        HeightEdit, WidthEdit, AddBtn, ClearListBtn, SaveListBtn, LoadListBtn, AppendListBtn,
        ClearRowBtn, ExecBtn, WriteBtn, EraseBtn, ExitBtn };
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    setTabOrder(order.last(), order.first());
}

void TSendForm::wireControls()
{
    connect(AddBtn, &QPushButton::clicked, this, guard([this] { AddBtnClick(); }));
    connect(BrowseBtn, &QToolButton::clicked, this, guard([this] { BrowseBtnClick(); }));
    connect(TypeCombo, &QComboBox::currentIndexChanged, this, guard([this] { TypeComboChange(); }));
    connect(StringGrid, &QTableView::doubleClicked, this, guard([this] { StringGridDblClick(); }));
    connect(ClearListBtn, &QPushButton::clicked, this, guard([this] {
        m_editor.clearList();
        selectGridRow(m_list.selectedRow());
    }));
    connect(SaveListBtn, &QPushButton::clicked, this, guard([this] { m_document.saveList(); }));
    connect(LoadListBtn, &QPushButton::clicked, this, guard([this] { m_document.loadList(); }));
    connect(AppendListBtn, &QPushButton::clicked, this, guard([this] { m_document.appendList(); }));
    connect(ClearRowBtn, &QPushButton::clicked, this, guard([this] { m_editor.clearRow(); }));
    connect(
        ExecBtn, &QPushButton::clicked, this, guard([this] { m_link->outputSelectedObject(); }));
    connect(WriteBtn, &QPushButton::clicked, this, guard([this] { m_link->writeToFlash(); }));
    connect(EraseBtn, &QPushButton::clicked, this, guard([this] { m_link->eraseObjectTable(); }));
    connect(ExitBtn, &QPushButton::clicked, this, guard([this] { close(); }));
    // The check button only carries its hint.
    // Every edit of the port box, typed or chosen, and every choice from its list selects the
    // port; wired here, before start-up opens the first port, so that nothing there can leave
    // the box dead.
    connect(PortCombo, &PortBox::portChanged, this,
        [this](const QString &text) { guarded([&] { PortComboChange(text); }); });

    // Picture previews and dropped files.
    StringGrid->viewport()->installEventFilter(this);
    FNameEdit->installEventFilter(this);
    m_client->setAcceptDrops(true);
    m_client->installEventFilter(this);
    StringGrid->viewport()->setAcceptDrops(true);
    for (QWidget *edit : { static_cast<QWidget *>(NumEdit), static_cast<QWidget *>(WidthEdit),
             static_cast<QWidget *>(HeightEdit) })
        edit->installEventFilter(this);

    connect(&m_editor, &ListEditor::fieldsChanged, this, [this] { widgetsFromFields(); });

    // The grid's selection and the list's selected row follow each other.
    connect(StringGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex &current) {
            if (current.isValid())
                m_list.selectRow(ObjectListModel::listRow(current.row()));
        });
    connect(&m_list, &ObjectList::selectionChanged, this, [this](int row) { selectGridRow(row); });
    connect(&m_list, &ObjectList::rowCountChanged, this,
        [this] { selectGridRow(m_list.selectedRow()); });
}

void TSendForm::startUp(const StartUpOptions &options)
{
    m_link->selectPort(PortCombo->currentText());
    Comm.SetRtsLine(false);
    Comm.SetDtrLine(true);
    selectGridRow(m_list.selectedRow());
    if (options.listPath)
        loadListFile(*options.listPath);
    else
        m_document.readSettingsFile();
    m_keptListNotice = m_document.reportKeptList(recoveryFolder()).value_or(QString());
}

// As Load list loads the file it is given: its failures are shown, and the path is remembered
// even when it did not read, since it is the list the operator is working on.
void TSendForm::loadListFile(const QString &path)
{
    m_document.readListFile(path, true, 0);
    m_document.setListPath(path);
}

void TSendForm::selectGridRow(int listRow)
{
    const int modelRow = ObjectListModel::modelRow(listRow);
    if (modelRow < 0 || modelRow >= m_model.rowCount())
        return;
    const QModelIndex current = StringGrid->selectionModel()->currentIndex();
    if (current.isValid() && current.row() == modelRow
        && StringGrid->selectionModel()->isRowSelected(modelRow))
        return;
    StringGrid->selectionModel()->setCurrentIndex(m_model.index(modelRow, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TSendForm::fieldsFromWidgets()
{
    EntryFields &f = m_editor.fields();
    f.number = NumEdit->text();
    f.type = TypeCombo->currentIndex();
    f.width = WidthEdit->text();
    f.height = HeightEdit->text();
    f.fileName = FNameEdit->text();
}

void TSendForm::widgetsFromFields()
{
    const EntryFields &f = m_editor.fields();
    NumEdit->setText(f.number);
    {
        // Selecting the type here is part of the operation that changed the fields; it must not
        // run Type changed a second time.
        const QSignalBlocker block(TypeCombo);
        TypeCombo->setCurrentIndex(f.type);
    }
    WidthEdit->setText(f.width);
    HeightEdit->setText(f.height);
    FNameEdit->setText(f.fileName);
    WidthLabel->setVisible(f.fontFieldsVisible);
    WidthEdit->setVisible(f.fontFieldsVisible);
    HeightLabel->setVisible(f.fontFieldsVisible);
    HeightEdit->setVisible(f.fontFieldsVisible);
}

void TSendForm::AddBtnClick()
{
    fieldsFromWidgets();
    m_editor.addOrUpdateObject();
}

void TSendForm::BrowseBtnClick()
{
    if (const auto chosen = chooseOpenFile())
        FNameEdit->setText(*chosen);
}

void TSendForm::TypeComboChange()
{
    fieldsFromWidgets();
    m_editor.typeChanged();
}

void TSendForm::StringGridDblClick()
{
    fieldsFromWidgets();
    m_editor.editRow();
}

void TSendForm::PortComboChange(const QString &text)
{
    m_link->selectPort(text);
}

void TSendForm::closeUnattended()
{
    m_unattended = true;
    close();
}

QString TSendForm::recoveryFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return data.isEmpty() ? QDir::tempPath() : data;
}

void TSendForm::closeEvent(QCloseEvent *event)
{
    // Shutdown runs once. Only a save the operator asked for and that failed calls the close
    // off: closing then would throw the list away.
    if (m_shutDown) {
        event->accept();
        return;
    }
    bool closing = true;
    if (m_unattended) {
        guarded([this] {
            const ListDocument::UnattendedClose outcome
                = m_document.closeUnattended(recoveryFolder());
            if (!outcome.keptIn.isEmpty()) {
                std::fprintf(stderr, "%s\n",
                    qUtf8Printable(QStringLiteral("Ормелин: измененный список не сохранен, "
                                                  "он записан в файл ")
                        + outcome.keptIn));
            } else if (!outcome.failure.isEmpty()) {
                std::fprintf(stderr, "%s\n",
                    qUtf8Printable(QStringLiteral("Ормелин: измененный список не удалось "
                                                  "сохранить: ")
                        + outcome.failure));
            }
        });
    } else {
        guarded([&] { closing = m_document.saveOnClose(); });
    }
    m_shutDown = closing;
    if (closing)
        event->accept();
    else
        event->ignore();
}

void TSendForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_keptListNotice.isEmpty())
        return;
    // The connection check's answer soon takes the status line: where the list went is also said
    // in a box, once the window is up, for the operator to acknowledge.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const QString notice = std::exchange(m_keptListNotice, QString());
            if (!notice.isEmpty())
                guarded([&] { showMessage(notice); });
        },
        Qt::QueuedConnection);
}

void TSendForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_anchors && m_client)
        m_anchors->apply(m_client->size());
}

// ---- picture previews and dropped files -------------------------------------------------------

namespace {

// The one local file a drag carries; nothing for text, several files or remote ones.
std::optional<QString> singleLocalFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return std::nullopt;
    const QString path = urls.first().toLocalFile();
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

// The picture type a file's extension names without doubt.
std::optional<int> pictureTypeOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return TypeJpeg;
    if (suffix == QLatin1String("bmp"))
        return TypeBitmap;
    return std::nullopt;
}

} // namespace

bool TSendForm::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget)
        return false;
    switch (event->type()) {
    case QEvent::ToolTip:
        if (widget == FNameEdit || widget == StringGrid->viewport()) {
            bool shown = false;
            guarded([&] { shown = showPicturePreview(static_cast<QHelpEvent *>(event), widget); });
            return shown;
        }
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (singleLocalFile(drag->mimeData())
            && dropTarget(widget, drag->position()) != DropTarget::None) {
            drag->acceptProposedAction();
            return true;
        }
        // Text dragged into a field is the field's own business.
        return false;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const std::optional<QString> path = singleLocalFile(drop->mimeData());
        const DropTarget target = dropTarget(widget, drop->position());
        if (!path || target == DropTarget::None)
            return false;
        drop->acceptProposedAction();
        guarded([&] { dropFile(target, *path); });
        return true;
    }
    default:
        return false;
    }
}

bool TSendForm::showPicturePreview(QHelpEvent *event, QWidget *over)
{
    int type = -1;
    QString path;
    QRect area;
    if (over == FNameEdit) {
        type = TypeCombo->currentIndex();
        path = FNameEdit->text();
        area = FNameEdit->rect();
    } else {
        const QModelIndex index = StringGrid->indexAt(event->pos());
        if (!index.isValid() || index.column() != ColFile)
            return false;
        const int row = ObjectListModel::listRow(index.row());
        type = lookupObjectType(m_list.cell(row, ColType));
        path = m_list.cell(row, ColFile);
        area = StringGrid->visualRect(index);
    }
    if (!m_previewer)
        m_previewer = std::make_unique<PicturePreviewer>();
    const std::optional<PicturePreview> preview = m_previewer->preview(type, path);
    if (!preview)
        return false;
    QToolTip::showText(event->globalPos(), PicturePreviewer::toolTipHtml(*preview), over, area);
    return true;
}

TSendForm::DropTarget TSendForm::dropTarget(QWidget *receiver, QPointF position) const
{
    const QPoint at = receiver->mapTo(m_client, position.toPoint());
    if (m_entryFrame->geometry().contains(at))
        return DropTarget::Entry;
    if (StringGrid->geometry().contains(at))
        return DropTarget::Grid;
    return DropTarget::None;
}

void TSendForm::dropFile(DropTarget target, const QString &path)
{
    if (target == DropTarget::Grid) {
        loadListFile(path);
        return;
    }
    FNameEdit->setText(path);
    // Choosing the type runs Type changed as a choice in the box would.
    if (const std::optional<int> type = pictureTypeOf(path))
        TypeCombo->setCurrentIndex(*type);
}

// ---- OperatorUi --------------------------------------------------------------------------------

void TSendForm::showMessage(const QString &text)
{
    QMessageBox box(
        QMessageBox::NoIcon, kApplicationTitle, boundedBoxText(text), QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setTextFormat(Qt::PlainText);
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

namespace {

void prepareQuestion(QMessageBox &box)
{
    box.setObjectName(QStringLiteral("QuestionBox"));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.setDefaultButton(QMessageBox::Yes);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
}

// A Yes/No box takes Escape and its close button for No; this one closes without an answer.
class DismissableQuestion : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->matches(QKeySequence::Cancel)) {
            reject();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent *event) override { QDialog::closeEvent(event); }
};

} // namespace

bool TSendForm::askYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Хороший вопрос"), text,
        QMessageBox::Yes | QMessageBox::No, this);
    prepareQuestion(box);
    return box.exec() == QMessageBox::Yes;
}

OperatorUi::Answer TSendForm::askYesNoOrDismiss(const QString &text)
{
    DismissableQuestion box(QMessageBox::NoIcon, QStringLiteral("Хороший вопрос"), text,
        QMessageBox::Yes | QMessageBox::No, this);
    prepareQuestion(box);
    box.exec();
    if (box.clickedButton() == box.button(QMessageBox::Yes))
        return Answer::Yes;
    if (box.clickedButton() == box.button(QMessageBox::No))
        return Answer::No;
    return Answer::Dismissed;
}

void TSendForm::setStatus(const QString &text)
{
    StatBar->setText(text);
    emit statusShown(text);
}

void TSendForm::setStatusDetail(const QString &detail)
{
    // A tooltip has no plain-text setting: one that looks like markup is shown as markup, so the
    // detail goes as markup that shows it as it is.
    const QString tip
        = detail.isEmpty() ? QString() : Qt::convertFromPlainText(detail, Qt::WhiteSpaceNormal);
    StatBar->setToolTip(tip);
    statusBar()->setToolTip(tip);
}

QString TSendForm::statusText() const
{
    return StatBar->text();
}

QString TSendForm::title() const
{
    return windowTitle();
}

void TSendForm::setTitle(const QString &title)
{
    setWindowTitle(title);
}

void TSendForm::setConnected(bool on)
{
    ConnLabel->setEnabled(on);
}

void TSendForm::setGaugeMaximum(int maximum)
{
    ProgrBar->setMaximum(maximum);
}

void TSendForm::setGaugeProgress(int progress)
{
    ProgrBar->setProgress(progress);
}

void TSendForm::setGaugeVisible(bool visible)
{
    ProgrBar->setVisible(visible);
}

std::optional<QString> TSendForm::chooseOpenFile()
{
    QFileDialog dialog(this, QStringLiteral("Выберите файл"));
    dialog.setObjectName(QStringLiteral("OpenDlg"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Все файлы (*)"));
    if (m_lastOpenChoice.isEmpty()) {
        dialog.setDirectory(QDir::currentPath());
    } else {
        dialog.setDirectory(QFileInfo(m_lastOpenChoice).absolutePath());
        dialog.selectFile(m_lastOpenChoice);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    m_lastOpenChoice = dialog.selectedFiles().constFirst();
    return m_lastOpenChoice;
}

std::optional<QString> TSendForm::chooseSaveFile(const QString &suggested)
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("SaveDlg"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Файлы Ормелина (*.orm)"));
    dialog.setDefaultSuffix(QStringLiteral("orm"));
    const QString start = suggested.isEmpty() ? m_lastSaveChoice : suggested;
    if (start.isEmpty()) {
        dialog.setDirectory(QDir::currentPath());
    } else {
        dialog.setDirectory(QFileInfo(start).absolutePath());
        dialog.selectFile(QFileInfo(start).fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    m_lastSaveChoice = dialog.selectedFiles().constFirst();
    return m_lastSaveChoice;
}

} // namespace ormelin
