// window_screenshot SIM_PORT OUT.png: starts the window on the display it is given, selects the
// simulator's port, writes the demo list (the current directory's ormelin.ini) to flash, answers
// the completion message, hovers over the bitmap row's file cell, and saves a picture of the
// window as it then stands, with the picture's tooltip.
#include "app/mainwindow.h"
#include "eventwait.h"
#include "windowdriver.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QHelpEvent>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <cstdio>

using namespace ormelin;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_screenshot SIM_PORT OUT.png\n");
        return 2;
    }
    BoxAnswerer boxes;
    TSendForm window(testStartUp());
    window.show();
    window.findChild<QComboBox *>(QStringLiteral("PortCombo"))
        ->setEditText(QString::fromLocal8Bit(argv[1]));

    if (!waitInEventLoop(
            [&] { return window.statusText().startsWith(QStringLiteral("Тарвикс на связи")); },
            10000)) {
        std::fprintf(stderr, "no connection: %s\n", qPrintable(window.statusText()));
        return 1;
    }
    window.findChild<QPushButton *>(QStringLiteral("WriteBtn"))->click();
    if (!waitInEventLoop([&] { return !boxes.texts("message").isEmpty(); }, 600000)) {
        std::fprintf(stderr, "the write did not finish: %s\n", qPrintable(window.statusText()));
        return 1;
    }
    waitInEventLoop([] { return false; }, 300);

    // The bitmap row's file cell, hovered.
    auto *grid = window.findChild<QTableView *>(QStringLiteral("StringGrid"));
    for (int row = 0; row < grid->model()->rowCount(); ++row) {
        const QModelIndex type = grid->model()->index(row, ColType);
        if (type.data().toString() != objectTypeTexts().at(TypeBitmap))
            continue;
        const QPoint at = grid->visualRect(grid->model()->index(row, ColFile)).center();
        QHelpEvent help(QEvent::ToolTip, at, grid->viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid->viewport(), &help);
        break;
    }
    if (!waitInEventLoop([] { return QToolTip::isVisible(); }, 5000)) {
        std::fprintf(stderr, "no tooltip over the bitmap row\n");
        return 1;
    }
    waitInEventLoop([] { return false; }, 300);
    QRect area = window.frameGeometry();
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->inherits("QTipLabel"))
            area = area.united(top->geometry());
    const QPixmap shot
        = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (!shot.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot save %s\n", argv[2]);
        return 1;
    }
    std::printf("%s\n%s\n", qPrintable(boxes.texts("message").join('\n')), argv[2]);
    return 0;
}
