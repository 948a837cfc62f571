// Drags made with the real pointer (xdotool on the test's X display): from the
// explorer tree to the playlist, within the playlist, and from the caption list to
// a playlist row. Each does what lstPlayListDragDrop does.
//
// Why such a drag used to fail after another window test in the same process: the
// audio layer stays initialised when a window goes, so the next window's start-up
// cannot initialise it again and shows "No se pudo cargar la tarjeta de Sonido" in
// a box of its own, centred on the screen. That box takes the focus and lies over
// the lists, and the real pointer drops onto it instead. CTest runs each drag in a
// fresh process; within one process the audio layer is released after each case,
// and every case first checks that nothing covers the desk.
#include "app/TfrmMain.h"
#include "audio/AudioLayer.h"
#include "media/MediaFunctions.h"
#include "tests/SessionSkip.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
QStringList Column(TListView* lv, int j) {
    QStringList out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItem(lv->Row(i), j);
    return out;
}
void AddRow(TListView* lv, const QStringList& cells) {
    lv->AppendRows({lv->MakeRow(cells, 1)});
}
// A point of the row that the list shows (rows may be wider than the list).
QPoint Global(QAbstractItemView* view, const QRect& rect) {
    const QPoint p(std::min(rect.left() + 30, view->viewport()->width() - 5), rect.center().y());
    return view->viewport()->mapToGlobal(p);
}
} // namespace

class TstRealDrag : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void treeToPlaylist();
    void withinThePlaylist();
    void captionOntoARow();

private:
    // Presses the first button at from, moves in steps to to and lets go, with the
    // real pointer; the event loop runs meanwhile. False when xdotool failed.
    bool Drag(QPoint from, QPoint to);
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TfrmMain> m_w;
};

void TstRealDrag::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        TAVORIA_SKIP_WITHOUT_SESSION("a real drag needs an X display");
    if (QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) != 0)
        TAVORIA_SKIP_WITHOUT_SESSION("xdotool is missing");
}

void TstRealDrag::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_w = std::make_unique<TfrmMain>();
    m_w->resize(1176, 700);
    m_w->move(0, 0);
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
    m_w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
    // A real pointer hits whatever lies on top: no other window may be up.
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY2(w == m_w.get() || !w->isVisible(), qPrintable(w->objectName()));
    for (int i = 1; i <= 5; ++i)
        AddRow(m_w->lstPlayList, {QStringLiteral("r%1").arg(i), "00:00:00",
                                  QStringLiteral("/m/r%1.mp4").arg(i), "0", ""});
}

void TstRealDrag::cleanup() {
    m_w.reset();
    BASS_Free();
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

bool TstRealDrag::Drag(QPoint from, QPoint to) {
    // The pointer starts away from both points: the press is a fresh one.
    QStringList args{"mousemove",
                     "--sync",
                     QString::number(from.x() + 40),
                     QString::number(from.y() + 40),
                     "sleep",
                     "0.2",
                     "mousemove",
                     "--sync",
                     QString::number(from.x()),
                     QString::number(from.y()),
                     "sleep",
                     "0.2",
                     "mousedown",
                     "1",
                     "sleep",
                     "0.2"};
    const int steps = 12;
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        args << "mousemove" << QString::number(p.x()) << QString::number(p.y()) << "sleep"
             << "0.05";
    }
    args << "sleep"
         << "0.3"
         << "mouseup"
         << "1"
         << "sleep"
         << "0.2";
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), args);
    if (!xdotool.waitForStarted(5000))
        return false;
    // The drag's own event loop runs inside this wait.
    QElapsedTimer t;
    t.start();
    while (xdotool.state() != QProcess::NotRunning && t.elapsed() < 20000)
        QTest::qWait(20);
    QTest::qWait(200);
    return xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

void TstRealDrag::treeToPlaylist() {
    const QString root = m_dir->filePath(QStringLiteral("medios"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/carpeta")));
    for (const char* f : {"a.mp4", "b.mkv", "c.mov"})
        QFile(root + QLatin1Char('/') + QString::fromUtf8(f)).open(QIODevice::WriteOnly);
    m_w->pgExplorerSubtitler->setCurrentWidget(m_w->tabExplorer);
    m_w->txtRootFolder->setText(root);
    TExplorerTree* tree = m_w->lstExplorer;
    QCOMPARE(tree->topLevelItemCount(), 4);
    // c.mov then a.mp4, and the folder: the files land at the end in that order.
    tree->clearSelection();
    tree->topLevelItem(3)->setSelected(true);
    tree->topLevelItem(1)->setSelected(true);
    tree->topLevelItem(0)->setSelected(true);
    QTest::qWait(100);
    const QPoint from = Global(tree, tree->visualItemRect(tree->topLevelItem(1)));
    const QPoint to =
        Global(m_w->lstPlayList, m_w->lstPlayList->visualItemRect(m_w->lstPlayList->Row(2)));
    QVERIFY(Drag(from, to));
    QCOMPARE(Column(m_w->lstPlayList, 0),
             (QStringList{"r1", "r2", "r3", "r4", "r5", "c.mov", "a.mp4"}));
}

void TstRealDrag::withinThePlaylist() {
    TListView* pl = m_w->lstPlayList;
    pl->clearSelection();
    pl->Row(4)->setSelected(true);
    QTest::qWait(100);
    QVERIFY(Drag(Global(pl, pl->visualItemRect(pl->Row(4))),
                 Global(pl, pl->visualItemRect(pl->Row(1)))));
    QCOMPARE(Column(pl, 0), (QStringList{"r1", "r5", "r2", "r3", "r4"}));
    // The list's own move never runs: no row is lost or doubled.
    pl->clearSelection();
    pl->Row(1)->setSelected(true);
    QTest::qWait(100);
    QVERIFY(Drag(Global(pl, pl->visualItemRect(pl->Row(1))),
                 Global(pl, pl->visualItemRect(pl->Row(4)))));
    QCOMPARE(Column(pl, 0), (QStringList{"r1", "r2", "r3", "r5", "r4"}));
}

void TstRealDrag::captionOntoARow() {
    TListView* captions = m_w->lstTextos;
    for (const char* who : {"Ana", "Luis", "Marta"})
        AddRow(captions, {QString::fromUtf8(who), "Charla", ""});
    m_w->pgExplorerSubtitler->setCurrentWidget(m_w->tabSubtitler);
    captions->clearSelection();
    captions->Row(2)->setSelected(true);
    QTest::qWait(100);
    TListView* pl = m_w->lstPlayList;
    QVERIFY(Drag(Global(captions, captions->visualItemRect(captions->Row(2))),
                 Global(pl, pl->visualItemRect(pl->Row(3)))));
    QCOMPARE(Column(pl, 4), (QStringList{"", "", "", "3", ""}));
    QCOMPARE(captions->RowCount(), 3);
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TstRealDrag t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_realdrag.moc"
