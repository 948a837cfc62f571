// Drags from the window's own lists onto the playlist: reordering rows, linking a
// caption to a row, and files from the explorer tree.
#include "app/RowFileCheck.h"
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "tests/DeskTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <memory>

namespace {
QStringList Names(TListView* lv) {
    QStringList out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItem(lv->Row(i), 0);
    return out;
}
QPoint RowPoint(TListView* lv, int row) {
    return lv->visualItemRect(lv->Row(row)).center();
}
void Select(TListView* lv, QList<int> rows) {
    lv->clearSelection();
    for (int r : rows)
        lv->Row(r)->setSelected(true);
}
} // namespace

class TstPlaylistDrops : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void reorderRows();
    void markersStayOnTheirRows_data();
    void markersStayOnTheirRows();
    void importReplacesRowsAndMarkers();
    void linkCaptions();
    void filesFromTheExplorer();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TfrmMain> m_w;
};

void TstPlaylistDrops::init() {
    QVERIFY(desktest::EnterNewWorkFolder(m_dir));
    QVERIFY(desktest::OpenDesk(m_w, {}, QSize(1176, 900)));
    for (int i = 1; i <= 5; ++i) {
        QTreeWidgetItem* row = m_w->lstPlayList->AddItem();
        for (const QString& s :
             {QStringLiteral("r%1").arg(i), QStringLiteral("00:00:00"),
              QStringLiteral("/m/r%1.mp4").arg(i), QStringLiteral("0"), QString()})
            m_w->lstPlayList->AddSubItem(row, s);
        m_w->lstPlayList->SetSubItemImage(row, 1);
    }
}

void TstPlaylistDrops::cleanup() {
    desktest::CloseDesk(m_w, m_dir);
}

void TstPlaylistDrops::reorderRows() {
    TListView* pl = m_w->lstPlayList;
    // The fifth row dropped on the second takes second place.
    Select(pl, {4});
    m_w->lstPlayListDragDrop(pl, RowPoint(pl, 1));
    QCOMPARE(Names(pl), (QStringList{"r1", "r5", "r2", "r3", "r4"}));
    QCOMPARE(TListView::SubItemImage(pl->Row(1)), 1);
    QCOMPARE(TListView::SubItem(pl->Row(1), 2), QStringLiteral("/m/r5.mp4"));
    // The second dropped on the fifth lands in front of it, in fourth place.
    Select(pl, {1});
    m_w->lstPlayListDragDrop(pl, RowPoint(pl, 4));
    QCOMPARE(Names(pl), (QStringList{"r1", "r2", "r3", "r5", "r4"}));
    // Only the first selected row moves; a drop below the last row does nothing.
    Select(pl, {0, 2});
    m_w->lstPlayListDragDrop(pl, RowPoint(pl, 3));
    QCOMPARE(Names(pl), (QStringList{"r2", "r3", "r1", "r5", "r4"}));
    Select(pl, {0});
    m_w->lstPlayListDragDrop(pl, QPoint(5, pl->viewport()->height() - 2));
    QCOMPARE(Names(pl), (QStringList{"r2", "r3", "r1", "r5", "r4"}));
    // The deletion handling ran: NextIndex names a row.
    QVERIFY(m_w->NextIndex >= 0 && m_w->NextIndex < pl->RowCount());
}

void TstPlaylistDrops::markersStayOnTheirRows_data() {
    QTest::addColumn<QString>("edit"); // "delete", "drag" (first selected onto target), "drop"
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("current"); // the row's name, "" for none
    QTest::addColumn<QString>("next");
    // r2 is playing (green), r4 is next (yellow).
    QTest::newRow("delete above both") << "delete" << QList<int>{0} << -1 << "r2"
                                       << "r4";
    QTest::newRow("delete the playing row") << "delete" << QList<int>{1} << -1 << ""
                                            << "r4";
    QTest::newRow("delete between") << "delete" << QList<int>{2} << -1 << "r2"
                                    << "r4";
    QTest::newRow("delete the next row") << "delete" << QList<int>{3} << -1 << "r2"
                                         << "r5";
    QTest::newRow("delete below both") << "delete" << QList<int>{4} << -1 << "r2"
                                       << "r4";
    QTest::newRow("delete playing and next together") << "delete" << QList<int>{0, 1, 3} << -1 << ""
                                                      << "r5";
    QTest::newRow("drag a row from below to the top") << "drag" << QList<int>{4} << 0 << "r2"
                                                      << "r4";
    QTest::newRow("drag a row from above to below both") << "drag" << QList<int>{0} << 4 << "r2"
                                                         << "r4";
    QTest::newRow("drag the playing row down") << "drag" << QList<int>{1} << 4 << "r2"
                                               << "r4";
    QTest::newRow("drag the next row above the playing one") << "drag" << QList<int>{3} << 0 << "r2"
                                                             << "r4";
    QTest::newRow("drop files") << "drop" << QList<int>{} << -1 << "r2"
                                << "r4";
}

void TstPlaylistDrops::markersStayOnTheirRows() {
    QFETCH(QString, edit);
    QFETCH(QList<int>, selected);
    QFETCH(int, target);
    QFETCH(QString, current);
    QFETCH(QString, next);
    TListView* pl = m_w->lstPlayList;
    // The fixture's files do not exist: once they are checked, their marks are taken
    // off, so that only the markers decide the colours here.
    QCoreApplication::processEvents();
    QTRY_VERIFY(!m_w->FileCheck()->Busy());
    QCoreApplication::processEvents();
    for (int i = 0; i < pl->RowCount(); ++i)
        m_w->MarkRowFailed(pl->Row(i), false);
    m_w->CurrentIndex = 1;
    m_w->NextIndex = 3;
    Select(pl, selected);
    if (edit == QStringLiteral("delete")) {
        QTest::keyClick(pl, Qt::Key_Delete);
    } else if (edit == QStringLiteral("drag")) {
        m_w->lstPlayListDragDrop(pl, RowPoint(pl, target));
    } else {
        QStringList files;
        QList<QUrl> urls;
        for (const char* name : {"a.mp4", "b.mkv"}) {
            files << m_dir->filePath(QString::fromLatin1(name));
            QFile f(files.last());
            QVERIFY(f.open(QIODevice::WriteOnly));
            urls << QUrl::fromLocalFile(files.last());
        }
        QMimeData mime;
        mime.setUrls(urls);
        QVERIFY(m_w->HandleFileDrop(&mime));
        QCOMPARE(pl->RowCount(), 7);
    }
    auto nameAt = [&](int index) {
        return index >= 0 && index < pl->RowCount() ? TListView::SubItem(pl->Row(index), 0)
                                                    : QString();
    };
    QCOMPARE(nameAt(m_w->CurrentIndex), current);
    QCOMPARE(nameAt(m_w->NextIndex), next);
    if (current.isEmpty())
        QCOMPARE(m_w->CurrentIndex, -1);
    // The colours follow: one green row (the playing one), one yellow row.
    for (int i = 0; i < pl->RowCount(); ++i) {
        const QColor colour = m_w->lstPlayListCustomDrawItem(i);
        const QString name = nameAt(i);
        if (name == next)
            QCOMPARE(colour, QColor(255, 255, 0));
        else if (name == current)
            QCOMPARE(colour, QColor(0, 128, 0));
        else
            QVERIFY2(!colour.isValid(), qPrintable(name));
    }
}

void TstPlaylistDrops::importReplacesRowsAndMarkers() {
    const QString here = m_dir->filePath(QStringLiteral("here.mp4"));
    {
        QFile f(here);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const QString gone = m_dir->filePath(QStringLiteral("gone.mp4"));
    const QString pls = m_dir->filePath(QStringLiteral("list.pls"));
    {
        QFile f(pls);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[playlist]\nNumberOfEntries=2\nFile1=%1\nTitle1=here\nLength1=0\n"
                               "File2=%2\nTitle2=gone\nLength2=0\n")
                    .arg(here, gone)
                    .toUtf8());
    }
    m_w->CurrentIndex = 1;
    m_w->NextIndex = 3;
    m_w->PickPlaylistToOpen = [pls] { return pls; };
    m_w->Abrir1Click();
    QTRY_VERIFY_WITH_TIMEOUT(m_w->RunningImport() == nullptr, 20000);
    TListView* pl = m_w->lstPlayList;
    QCOMPARE(Names(pl), (QStringList{"here.mp4", "gone.mp4"}));
    // The playing row went with the old rows; the first imported row is next.
    QCOMPARE(m_w->CurrentIndex, -1);
    QCOMPARE(m_w->NextIndex, 0);
    // The missing file is marked as soon as it is known.
    QTRY_VERIFY_WITH_TIMEOUT(TfrmMain::RowFailed(pl->Row(1)), 10000);
    QVERIFY(!TfrmMain::RowFailed(pl->Row(0)));
}

void TstPlaylistDrops::linkCaptions() {
    TListView* captions = m_w->lstTextos;
    for (const char* who : {"Ana", "Luis", "Marta"}) {
        QTreeWidgetItem* row = captions->AddItem();
        captions->AddSubItem(row, QString::fromUtf8(who));
        captions->AddSubItem(row, QStringLiteral("Charla"));
        captions->AddSubItem(row, QString());
    }
    Select(captions, {2});
    m_w->lstPlayListDragDrop(captions, RowPoint(m_w->lstPlayList, 1));
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(1), 4), QStringLiteral("3"));
    captions->clearSelection();
    m_w->lstPlayListDragDrop(captions, RowPoint(m_w->lstPlayList, 2));
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(2), 4), QStringLiteral("0"));
    // Other sources change nothing.
    m_w->lstPlayListDragDrop(m_w->lstJingles, RowPoint(m_w->lstPlayList, 0));
    QCOMPARE(m_w->lstPlayList->RowCount(), 5);
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(0), 4), QString());
}

void TstPlaylistDrops::filesFromTheExplorer() {
    const QString root = m_dir->filePath(QStringLiteral("media"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/Sub")));
    for (const char* f : {"b.mp4", "c.txt", "a.MKV", "Sub/d.mov"}) {
        QFile file(root + QLatin1Char('/') + QString::fromUtf8(f));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    m_w->txtRootFolder->setText(root);
    QTreeWidget* tree = m_w->lstExplorer;
    // The sub-folder first, then the media files; c.txt is never listed.
    QCOMPARE(tree->topLevelItemCount(), 3);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Sub"));
    tree->expandItem(tree->topLevelItem(0));
    QCOMPARE(tree->topLevelItem(0)->childCount(), 1);
    QCOMPARE(TreeNodePath(tree->topLevelItem(0)->child(0)), QStringLiteral("Sub/d.mov"));
    // Only siblings of one folder are selected together: a node in another folder
    // takes the place of the earlier selection.
    tree->clearSelection();
    tree->topLevelItem(0)->setSelected(true);
    tree->topLevelItem(0)->child(0)->setSelected(true);
    QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{tree->topLevelItem(0)->child(0)});
    // In selection order; the selected folder adds nothing.
    tree->clearSelection();
    tree->topLevelItem(2)->setSelected(true);
    tree->topLevelItem(0)->setSelected(true);
    tree->topLevelItem(1)->setSelected(true);
    m_w->lstPlayListDragDrop(tree, RowPoint(m_w->lstPlayList, 0));
    QCOMPARE(m_w->lstPlayList->RowCount(), 7);
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(5), 2),
             root + QLatin1Char('/') + tree->topLevelItem(2)->text(0));
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(6), 2),
             root + QLatin1Char('/') + tree->topLevelItem(1)->text(0));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TstPlaylistDrops t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_playlistdrops.moc"
