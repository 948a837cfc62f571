// The media library as the window drives it: web addresses typed under the
// playlist, "Importar Lista" and "Exportar Lista", the explorer tree, and the
// folder listings of the effects page (name order, 25 tabs that stay readable).
#include "../media/HttpTestServer.h"
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/PlaylistFile.h"
#include "media/TavoriaError.h"
#include "media/TitleLookup.h"
#include "tests/DeskTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace {
QStringList Column(TListView* lv, int j) {
    QStringList out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItem(lv->Row(i), j);
    return out;
}
void Touch(const QString& path) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write("x");
}
QStringList Texts(const QList<QTreeWidgetItem*>& items) {
    QStringList out;
    for (const QTreeWidgetItem* i : items)
        out << i->text(0);
    return out;
}
QStringList TopLevel(QTreeWidget* tree) {
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out << tree->topLevelItem(i)->text(0);
    return out;
}
QTreeWidgetItem* Node(QTreeWidget* tree, const QString& text, QTreeWidgetItem* parent = nullptr) {
    const int n = parent ? parent->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem* item = parent ? parent->child(i) : tree->topLevelItem(i);
        if (item->text(0) == text)
            return item;
    }
    return nullptr;
}
QImage Pixels(const QIcon& icon, QIcon::Mode mode) {
    return icon.pixmap(QSize(16, 16), mode).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Counts the ticks of a 100 ms timer and the longest gap between two of them: a
// window that waits on the network shows a gap as long as the wait.
struct Heartbeat {
    QTimer timer;
    QElapsedTimer since;
    int ticks = 0;
    qint64 longestGap = 0;
    Heartbeat() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            longestGap = std::max(longestGap, since.restart());
            ++ticks;
        });
        since.start();
        timer.start(100);
    }
};
} // namespace

class TstMediaLib : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void effectsFoldersInNameOrderAnd25ReadableTabs();
    void addressesTypedUnderThePlaylist();
    void slowTitleKeepsTheWindowRunning();
    void failedLookupGivesTheAddressBack();
    void playlistFileDialogs();
    void exportAndImportThroughTheMenu();
    void importThatIsRefusedLeavesThePlaylist();
    void clearingThePlaylistEndsARunningImport();
    void clearAndImportDropWaitingAddresses();
    void explorerListingAndImages();
    void explorerExpansionAndRebuild();
    void explorerSelectionAmongSiblings();
    void dropOfManyFilesShowsProgress();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TfrmMain> m_w;
    HttpTestServer m_server;
};

void TstMediaLib::init() {
    QVERIFY(desktest::EnterNewWorkFolder(m_dir));
    qputenv("TAVORIA_TITLE_HOST", m_server.Host().toUtf8());
    m_server.SetTitle("T&iacute;tulo &amp; m&aacute;s");
    m_server.ClearRequests();
    QVERIFY(desktest::OpenDesk(m_w, {}, QSize(1176, 700)));
}

void TstMediaLib::cleanup() {
    desktest::CloseDesk(m_w, m_dir);
}

void TstMediaLib::effectsFoldersInNameOrderAnd25ReadableTabs() {
    const QString fx = m_dir->filePath(QStringLiteral("fx"));
    // Created out of order: the file system's own order must not show through.
    QStringList tabs;
    for (int i : {7,  25, 1,  12, 3, 19, 10, 2,  21, 5,  14, 8, 23,
                  11, 4,  17, 24, 6, 15, 9,  20, 13, 18, 22, 16})
        tabs << QStringLiteral("Efectos número %1").arg(i);
    for (const QString& t : tabs)
        QVERIFY(QDir(fx).mkpath(QStringLiteral("Efx/") + t));
    for (const char* v : {"zoe", "Ana", "bruno"})
        QVERIFY(QDir(fx).mkpath(QStringLiteral("Time/") + QString::fromUtf8(v)));
    for (const char* f : {"10 risa.mp3", "2 aplauso.mp3", "1 campana.MP3", "Ágil.mp3", "b.mp3"})
        Touch(fx + QStringLiteral("/Efx/Efectos número 1/") + QString::fromUtf8(f));
    m_w->txtFolderCunas->setText(fx);

    TTabStrip* strip = m_w->tabEfectos;
    QStringList expected;
    for (int i = 1; i <= 25; ++i)
        expected << QStringLiteral("Efectos número %1").arg(i);
    QCOMPARE(strip->Tabs(), expected);
    QStringList voices;
    for (int i = 0; i < m_w->cboHoras->count(); ++i)
        voices << m_w->cboHoras->itemText(i);
    QCOMPARE(voices, (QStringList{"Ana", "bruno", "zoe"}));
    strip->ClickTab(0);
    QCOMPARE(Column(m_w->lstJingles, 0),
             (QStringList{"1 campana.MP3", "2 aplauso.mp3", "10 risa.mp3",
                          QString::fromUtf8("Ágil.mp3"), "b.mp3"}));

    // Every tab keeps the width its text needs; the strip scrolls instead.
    // The strip lays its tabs out from the event loop: on a loaded machine (or under a
    // sanitizer) that can take longer than a few milliseconds.
    QTRY_VERIFY_WITH_TIMEOUT(strip->Scrolls(), 10000);
    QVERIFY(strip->height() >= strip->TabButton(0)->sizeHint().height());
    for (int i = 0; i < strip->Count(); ++i) {
        QAbstractButton* b = strip->TabButton(i);
        const int text = b->fontMetrics().horizontalAdvance(b->text());
        QVERIFY2(b->width() >= text && b->width() >= b->sizeHint().width(),
                 qPrintable(QStringLiteral("tab %1 is %2 px for %3 px of text")
                                .arg(i)
                                .arg(b->width())
                                .arg(text)));
        if (i > 0)
            QVERIFY(strip->TabRect(i).left() > strip->TabRect(i - 1).right());
    }
    const QRect area = strip->TabArea();
    QVERIFY(area.contains(strip->TabRect(0)));
    QVERIFY(!area.contains(strip->TabRect(24)));
    // The right arrow brings the tabs in one by one, up to the last.
    auto* right = strip->findChild<QToolButton*>(QStringLiteral("TabScrollRight"));
    QVERIFY(right && right->isVisible());
    int clicks = 0;
    while (!area.contains(strip->TabRect(24)) && clicks < 30) {
        QTest::mouseClick(right, Qt::LeftButton);
        ++clicks;
    }
    QVERIFY(area.contains(strip->TabRect(24)));
    QVERIFY(clicks > 1 && clicks < 25);
    QVERIFY(!right->isEnabled());
    // A tab chosen while scrolled away is brought into view.
    strip->SetTabIndex(0);
    QVERIFY(area.contains(strip->TabRect(0)));
    // The mouse wheel scrolls too.
    QWheelEvent wheel(QPointF(5, 5), strip->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    const QRect before = strip->TabRect(0);
    QApplication::sendEvent(strip->findChild<QScrollArea*>()->viewport(), &wheel);
    QVERIFY(strip->TabRect(0).left() < before.left());

    // A few folders fit: no arrows, every tab in view.
    QVERIFY(QDir(fx).rename(QStringLiteral("Efx"), QStringLiteral("Efx25")));
    for (const char* t : {"Jingles", "Risas", "Noticias"})
        QVERIFY(QDir(fx).mkpath(QStringLiteral("Efx/") + QString::fromUtf8(t)));
    m_w->txtFolderCunas->setText(QString());
    m_w->txtFolderCunas->setText(fx);
    QCOMPARE(strip->Tabs(), (QStringList{"Jingles", "Noticias", "Risas"}));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            if (strip->Scrolls())
                return false;
            for (int i = 0; i < 3; ++i)
                if (!strip->TabArea().contains(strip->TabRect(i)))
                    return false;
            return true;
        }(),
        5000);
}

void TstMediaLib::addressesTypedUnderThePlaylist() {
    QLineEdit* edit = m_w->txtAddUrl;
    QVERIFY(!edit->placeholderText().isEmpty());
    // Five characters are not enough; the text stays.
    QTest::keyClicks(edit, QStringLiteral("abcde"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(m_w->lstPlayList->RowCount(), 0);
    QCOMPARE(edit->text(), QStringLiteral("abcde"));
    // Six are: a plain address is a row at once.
    QTest::keyClick(edit, Qt::Key_F);
    QTest::keyClick(edit, Qt::Key_Enter);
    QCOMPARE(Column(m_w->lstPlayList, 0), QStringList{"abcdef"});
    QVERIFY(edit->text().isEmpty());
    // Other keys do nothing here.
    edit->setText(QStringLiteral("http://radio.example/stream.mp3"));
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(m_w->lstPlayList->RowCount(), 1);
    // A video-site address is named by its title.
    edit->setText(QStringLiteral("https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=1"));
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(edit->text().isEmpty());
    QTRY_COMPARE(m_w->lstPlayList->RowCount(), 2);
    QTreeWidgetItem* row = m_w->lstPlayList->Row(1);
    QCOMPARE(TListView::SubItem(row, 0), QString::fromUtf8("Título & más"));
    QCOMPARE(TListView::SubItem(row, 2),
             QStringLiteral("https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=1"));
    QCOMPARE(TListView::SubItemImage(row), 13);
    QCOMPARE(TListView::SubItemImage(m_w->lstPlayList->Row(0)), 12);
    QVERIFY(m_server.Requests().value(0).startsWith(
        "GET /lib/youtubetitle.php?id=dQw4w9WgXcQ HTTP/1.1\r\n"));
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstMediaLib::slowTitleKeepsTheWindowRunning() {
    m_server.SetTitle("Lento", 5000);
    QLineEdit* edit = m_w->txtAddUrl;
    Heartbeat beat;
    QElapsedTimer t;
    t.start();
    edit->setText(QStringLiteral("http://youtube.com/watch?v=lento000000"));
    QTest::keyClick(edit, Qt::Key_Return);
    // Enter returns at once; the next address can be typed and waits its turn.
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    edit->setText(QStringLiteral("http://radio.example/despues.mp3"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::qWait(1500);
    QCOMPARE(m_w->lstPlayList->RowCount(), 0);
    // The window answers meanwhile: a click takes effect, the timer keeps firing.
    const bool repeat = m_w->cmdRepeat->isChecked();
    QTest::mouseClick(m_w->cmdRepeat, Qt::LeftButton);
    QCOMPARE(m_w->cmdRepeat->isChecked(), !repeat);
    QTRY_COMPARE_WITH_TIMEOUT(m_w->lstPlayList->RowCount(), 2, 9000);
    QVERIFY2(t.elapsed() >= 4500, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(Column(m_w->lstPlayList, 0), (QStringList{"Lento", "despues.mp3"}));
    QVERIFY2(beat.longestGap < 1000, qPrintable(QString::number(beat.longestGap)));
    QVERIFY2(beat.ticks >= 30, qPrintable(QString::number(beat.ticks)));
}

void TstMediaLib::failedLookupGivesTheAddressBack() {
    m_server.SetAnswer({404, "Not Found", "text/html", "<title>No</title>"});
    const QString url = QStringLiteral("http://youtube.com/watch?v=noexiste000");
    m_w->txtAddUrl->setText(url);
    QTest::keyClick(m_w->txtAddUrl, Qt::Key_Return);
    QTRY_COMPARE(m_w->Errors().Count(), 1);
    QCOMPARE(m_w->txtAddUrl->text(), url);
    QCOMPARE(m_w->lstPlayList->RowCount(), 0);
    QVERIFY(m_w->Errors().BoxVisible());
    QVERIFY(m_w->Errors().LastText().contains(url));
    QVERIFY(m_w->Errors().LastText().contains(QStringLiteral("404")));
    QCOMPARE(m_w->findChildren<QMessageBox*>().size(), 1);
    // Enter again tries again; a second failure reuses the one box.
    QTest::keyClick(m_w->txtAddUrl, Qt::Key_Return);
    QTRY_COMPARE(m_w->Errors().Count(), 2);
    QCOMPARE(m_w->txtAddUrl->text(), url);
    QCOMPARE(m_w->findChildren<QMessageBox*>().size(), 1);
    m_w->Errors().ResetForTests();
}

void TstMediaLib::playlistFileDialogs() {
    const auto save = TfrmMain::PlaylistFileDialog(m_w.get(), true);
    QCOMPARE(save->windowTitle(), QStringLiteral("Guardar Play List"));
    QCOMPARE(save->nameFilters(), QStringList{QString::fromUtf8("Lista de Reproducción (*.pls)")});
    QCOMPARE(save->defaultSuffix(), QStringLiteral("pls"));
    QCOMPARE(save->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(save->testOption(QFileDialog::DontConfirmOverwrite));
    const auto open = TfrmMain::PlaylistFileDialog(m_w.get(), false);
    QCOMPARE(open->nameFilters(), QStringList{QString::fromUtf8("Lista de Reproducción (*.pls)")});
    QCOMPARE(open->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(open->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(m_w->Abrir1->text(), QStringLiteral("Importar Lista"));
    QCOMPARE(m_w->GuardarComo1->text(), QStringLiteral("Exportar Lista"));
}

void TstMediaLib::exportAndImportThroughTheMenu() {
    const QString clip = m_dir->filePath(QStringLiteral("clip.mp4"));
    Touch(clip);
    AddMediaFile(clip, m_w->lstPlayList);
    AddMediaUrl(QStringLiteral("http://radio.example/vivo.mp3"), m_w->lstPlayList);
    AddMediaUrl(QStringLiteral("http://youtube.com/watch?v=dQw4w9WgXcQ"), m_w->lstPlayList);
    const QString file = m_dir->filePath(QStringLiteral("lista.pls"));
    // Cancelled dialogs change nothing.
    m_w->PickPlaylistToSave = [] { return QString(); };
    m_w->PickPlaylistToOpen = [] { return QString(); };
    m_w->GuardarComo1->trigger();
    m_w->Abrir1->trigger();
    QVERIFY(!QFile::exists(file));
    QCOMPARE(m_w->lstPlayList->RowCount(), 3);

    m_w->PickPlaylistToSave = [&] { return file; };
    m_w->GuardarComo1->trigger();
    QVERIFY(QFile::exists(file));
    QCOMPARE(m_w->progreso->value(), 0);

    // The import empties the playlist and fills it again while the window runs; a
    // slow title keeps the menu item disabled until the import ends.
    m_server.SetTitle("Otra vez", 1500);
    m_w->lstPlayList->AddItem();
    m_w->PickPlaylistToOpen = [&] { return file; };
    Heartbeat beat;
    m_w->Abrir1->trigger();
    QVERIFY(m_w->RunningImport());
    QVERIFY(!m_w->Abrir1->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!m_w->RunningImport(), 8000);
    QVERIFY(m_w->Abrir1->isEnabled());
    QCOMPARE(Column(m_w->lstPlayList, 2), (QStringList{clip, "http://radio.example/vivo.mp3",
                                                       "http://youtube.com/watch?v=dQw4w9WgXcQ"}));
    QCOMPARE(Column(m_w->lstPlayList, 0), (QStringList{"clip.mp4", "vivo.mp3", "Otra vez"}));
    QCOMPARE(m_w->progreso->value(), 0);
    QVERIFY2(beat.longestGap < 1000, qPrintable(QString::number(beat.longestGap)));
    QCOMPARE(m_w->Errors().Count(), 0);

    // An export that cannot be written shows one error.
    m_w->PickPlaylistToSave = [&] { return m_dir->filePath(QStringLiteral("no/hay/x.pls")); };
    m_w->GuardarComo1->trigger();
    QCOMPARE(m_w->Errors().Count(), 1);
    QVERIFY(m_w->Errors().LastText().contains(QStringLiteral("x.pls")));
    m_w->Errors().ResetForTests();
}

void TstMediaLib::importThatIsRefusedLeavesThePlaylist() {
    AddMediaUrl(QStringLiteral("http://radio.example/queda.mp3"), m_w->lstPlayList);
    const QString file = m_dir->filePath(QStringLiteral("negativa.pls"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[playlist]\r\nNumberOfEntries=-1\r\nFile1=/a.mp4\r\n");
    }
    m_w->PickPlaylistToOpen = [&] { return file; };
    m_w->Abrir1->trigger();
    QCOMPARE(m_w->Errors().Count(), 1);
    QVERIFY(m_w->Errors().LastText().contains(QStringLiteral("negativo")));
    QCOMPARE(Column(m_w->lstPlayList, 0), QStringList{"queda.mp3"});
    QVERIFY(!m_w->RunningImport());
    QVERIFY(m_w->Abrir1->isEnabled());
    m_w->Errors().ResetForTests();

    // A lookup that fails during an import ends it there, with one error.
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[playlist]\r\nNumberOfEntries=3\r\nFile1=http://a.example/uno\r\n"
                "File2=http://youtube.com/watch?v=roto0000000\r\nFile3=http://a.example/tres\r\n");
    }
    m_server.SetAnswer({500, "Internal Server Error", "text/html", ""});
    m_w->Abrir1->trigger();
    QTRY_VERIFY(!m_w->RunningImport());
    QCOMPARE(Column(m_w->lstPlayList, 0), QStringList{"uno"});
    QCOMPARE(m_w->Errors().Count(), 1);
    QCOMPARE(m_w->progreso->value(), 2);
    m_w->Errors().ResetForTests();
}

void TstMediaLib::clearingThePlaylistEndsARunningImport() {
    // "Limpiar Lista" while an import waits for a slow title: the list stays empty,
    // the import ends at once and the menu item comes back.
    const QString file = m_dir->filePath(QStringLiteral("larga.pls"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[playlist]\r\nNumberOfEntries=4\r\nFile1=http://a.example/uno\r\n"
                "File2=http://youtube.com/watch?v=lento000000\r\nFile3=http://a.example/tres\r\n"
                "File4=http://a.example/cuatro\r\n");
    }
    m_server.SetTitle("Lento", 1500);
    m_w->PickPlaylistToOpen = [&] { return file; };
    m_w->Abrir1->trigger();
    QVERIFY(m_w->RunningImport());
    QTRY_COMPARE(m_w->lstPlayList->RowCount(), 1);
    m_w->Nuevo1->trigger();
    QVERIFY(!m_w->RunningImport());
    QVERIFY(m_w->Abrir1->isEnabled());
    QCOMPARE(m_w->progreso->value(), 0);
    // Well past the slow answer: nothing of the old import arrives.
    QTest::qWait(2500);
    QCOMPARE(m_w->lstPlayList->RowCount(), 0);
    QCOMPARE(m_w->Errors().Count(), 0);
    // A new import runs whole.
    m_server.SetTitle("Rápido");
    m_w->Abrir1->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_w->RunningImport(), 8000);
    QCOMPARE(Column(m_w->lstPlayList, 0), (QStringList{"uno", "Rápido", "tres", "cuatro"}));
}

void TstMediaLib::clearAndImportDropWaitingAddresses() {
    // A video-site address still waiting for its title belongs to the list it was
    // typed for: "Limpiar Lista" and an import drop it, and its late title adds
    // nothing to the new list.
    m_server.SetTitle("Tarde", 1200);
    QLineEdit* edit = m_w->txtAddUrl;
    edit->setText(QStringLiteral("http://youtube.com/watch?v=tarde000000"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(m_w->UrlRows()->Waiting(), 1);
    m_w->Nuevo1->trigger();
    QCOMPARE(m_w->UrlRows()->Waiting(), 0);
    QTest::qWait(2000); // past the slow answer
    QCOMPARE(m_w->lstPlayList->RowCount(), 0);

    const QString file = m_dir->filePath(QStringLiteral("nueva.pls"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[playlist]\r\nNumberOfEntries=1\r\nFile1=http://a.example/uno\r\n");
    }
    edit->setText(QStringLiteral("http://youtube.com/watch?v=tarde000001"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(m_w->UrlRows()->Waiting(), 1);
    m_w->PickPlaylistToOpen = [&] { return file; };
    m_w->Abrir1->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_w->RunningImport(), 8000);
    QTest::qWait(2000);
    QCOMPARE(Column(m_w->lstPlayList, 0), QStringList{"uno"});
    QCOMPARE(m_w->Errors().Count(), 0);
    // Addresses typed afterwards join the new list as usual.
    m_server.SetTitle("Nuevo");
    edit->setText(QStringLiteral("http://youtube.com/watch?v=nuevo000000"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(Column(m_w->lstPlayList, 0), (QStringList{"uno", "Nuevo"}), 8000);
}

void TstMediaLib::explorerListingAndImages() {
    const QString root = m_dir->filePath(QStringLiteral("medios"));
    for (const char* d : {"a", "Carpeta 10", "Carpeta 9", ".oculta", "vacía"})
        QVERIFY(QDir(root).mkpath(QString::fromUtf8(d)));
    const QStringList files{"b.mp4",
                            "c.txt",
                            "Z.MP3",
                            ".x.mp4",
                            "._clip.mp4",
                            "con espacio.mov",
                            QString::fromUtf8("línea\nnueva.webm"),
                            QString::fromUtf8("ñu.mkv"),
                            "v.mpg",
                            "sin extension"};
    for (const QString& f : files)
        Touch(root + QLatin1Char('/') + f);
    m_w->txtRootFolder->setText(root);
    QTreeWidget* tree = m_w->lstExplorer;
    QStringList mediaFiles{"b.mp4",
                           "Z.MP3",
                           "con espacio.mov",
                           QString::fromUtf8("línea\nnueva.webm"),
                           QString::fromUtf8("ñu.mkv"),
                           "v.mpg"};
    SortByName(mediaFiles);
    // Folders first, then media files, each group in name order; hidden folders and
    // files (".x.mp4", macOS's "._clip.mp4"), other types and files without an
    // extension are not listed.
    QCOMPARE(TopLevel(tree),
             QStringList({"a", "Carpeta 9", "Carpeta 10", QString::fromUtf8("vacía")}) +
                 mediaFiles);
    // Images: the media type's position; folders 10, 9 while selected.
    const TImageList& icons = m_w->icons16;
    QCOMPARE(Pixels(Node(tree, "Z.MP3")->icon(0), QIcon::Normal),
             Pixels(icons.Icon(0), QIcon::Normal));
    QCOMPARE(Pixels(Node(tree, "v.mpg")->icon(0), QIcon::Normal),
             Pixels(icons.Icon(5), QIcon::Normal));
    QTreeWidgetItem* folder = Node(tree, "a");
    QCOMPARE(Pixels(folder->icon(0), QIcon::Normal), Pixels(icons.Icon(10), QIcon::Normal));
    QCOMPARE(Pixels(folder->icon(0), QIcon::Selected), Pixels(icons.Icon(9), QIcon::Normal));
    QCOMPARE(folder->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QCOMPARE(folder->childCount(), 0); // read on its first expansion only
    Touch(root + QStringLiteral("/a/dentro.mp4"));
    tree->expandItem(folder);
    QCOMPARE(folder->childCount(), 1);
    QCOMPARE(Pixels(folder->icon(0), QIcon::Normal), Pixels(icons.Icon(11), QIcon::Normal));
    tree->collapseItem(folder);
    QCOMPARE(Pixels(folder->icon(0), QIcon::Normal), Pixels(icons.Icon(10), QIcon::Normal));
    // The path of a node, and a drop of names with spaces, accents and a line feed.
    QCOMPARE(TreeNodePath(folder->child(0)), QStringLiteral("a/dentro.mp4"));
    tree->clearSelection();
    for (const char* f : {"con espacio.mov", "ñu.mkv", "línea\nnueva.webm"})
        Node(tree, QString::fromUtf8(f))->setSelected(true);
    // The name with a line feed is shown in the tree but cannot join the playlist
    // (config.ini keeps one cell a line): the others go in, one error names it.
    QString refused;
    try {
        m_w->lstPlayListDragDrop(tree, QPoint(5, 5));
    } catch (const TavoriaError& e) {
        refused = e.message();
    }
    QVERIFY2(refused.contains(QStringLiteral("salto de línea")), qPrintable(refused));
    QCOMPARE(Column(m_w->lstPlayList, 2),
             (QStringList{root + "/con espacio.mov", root + QString::fromUtf8("/ñu.mkv")}));
}

void TstMediaLib::explorerExpansionAndRebuild() {
    const QString root = m_dir->filePath(QStringLiteral("raiz"));
    for (const char* d : {"llena/sub", "vacia", "cerrada"})
        QVERIFY(QDir(root).mkpath(QString::fromUtf8(d)));
    Touch(root + QStringLiteral("/llena/uno.mp3"));
    Touch(root + QStringLiteral("/vacia/notas.txt"));
    m_w->txtRootFolder->setText(root);
    QTreeWidget* tree = m_w->lstExplorer;
    QCOMPARE(TopLevel(tree), (QStringList{"cerrada", "llena", "vacia"}));
    // A folder with nothing to show loses its expand button.
    QTreeWidgetItem* empty = Node(tree, "vacia");
    tree->expandItem(empty);
    QCOMPARE(empty->childCount(), 0);
    QCOMPARE(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    // A folder is read once: files added later show after a rebuild.
    QTreeWidgetItem* full = Node(tree, "llena");
    tree->expandItem(full);
    QCOMPARE(Texts({full->child(0), full->child(1)}), (QStringList{"sub", "uno.mp3"}));
    Touch(root + QStringLiteral("/llena/dos.mp4"));
    Touch(root + QStringLiteral("/nuevo.mp4"));
    tree->collapseItem(full);
    tree->expandItem(full);
    QCOMPARE(full->childCount(), 2);
    // A double click on the root field reads everything again.
    QTest::mouseDClick(m_w->txtRootFolder, Qt::LeftButton);
    QCOMPARE(TopLevel(tree), (QStringList{"cerrada", "llena", "vacia", "nuevo.mp4"}));
    full = Node(tree, "llena");
    tree->expandItem(full);
    QCOMPARE(full->childCount(), 3);

    // An unreadable folder shows nothing (root reads every folder: nothing to check).
    QTreeWidgetItem* closed = Node(tree, "cerrada");
    Touch(root + QStringLiteral("/cerrada/x.mp4"));
    if (geteuid() != 0) {
        QVERIFY(
            QFile::setPermissions(root + QStringLiteral("/cerrada"), QFileDevice::Permissions()));
        tree->expandItem(closed);
        QCOMPARE(closed->childCount(), 0);
        QFile::setPermissions(root + QStringLiteral("/cerrada"), QFileDevice::ReadOwner |
                                                                     QFileDevice::WriteOwner |
                                                                     QFileDevice::ExeOwner);
    }

    // The root vanishes while shown: expanding finds nothing, a drop adds nothing,
    // and nothing is reported.
    Node(tree, "nuevo.mp4")->setSelected(true);
    QVERIFY(QDir(root).removeRecursively());
    QTreeWidgetItem* sub = Node(tree, "sub", full);
    tree->expandItem(sub);
    QCOMPARE(sub->childCount(), 0);
    m_w->lstPlayListDragDrop(tree, QPoint(5, 5));
    QCOMPARE(m_w->lstPlayList->RowCount(), 0);
    QCOMPARE(m_w->Errors().Count(), 0);
    // The picker: a cancel changes nothing, a folder becomes the root.
    const QString other = m_dir->filePath(QStringLiteral("otra"));
    QVERIFY(QDir().mkpath(other + QStringLiteral("/dentro")));
    m_w->PickFolder = [] { return QString(); };
    QTest::mouseClick(m_w->cmdRootExplorador, Qt::LeftButton);
    QCOMPARE(m_w->txtRootFolder->text(), root);
    m_w->PickFolder = [&] { return other; };
    QTest::mouseClick(m_w->cmdRootExplorador, Qt::LeftButton);
    QCOMPARE(m_w->ExplorerRoot, other);
    QCOMPARE(TopLevel(tree), QStringList{"dentro"});
    // An empty root rebuilds from the top folder on a double click.
    m_w->txtRootFolder->setText(QString());
    QTest::mouseDClick(m_w->txtRootFolder, Qt::LeftButton);
    QVERIFY(Node(tree, "tmp") || Node(tree, "usr"));
}

void TstMediaLib::explorerSelectionAmongSiblings() {
    const QString root = m_dir->filePath(QStringLiteral("sel"));
    QVERIFY(QDir(root).mkpath(QStringLiteral("d")));
    for (const char* f : {"a.mp4", "b.mp4", "c.mp4", "d/x.mp4", "d/y.mp4"})
        Touch(root + QLatin1Char('/') + QString::fromUtf8(f));
    m_w->pgExplorerSubtitler->setCurrentWidget(m_w->tabExplorer);
    m_w->txtRootFolder->setText(root);
    TExplorerTree* tree = m_w->lstExplorer;
    QTreeWidgetItem* d = Node(tree, "d");
    tree->expandItem(d);
    auto click = [&](QTreeWidgetItem* item, Qt::KeyboardModifiers mods,
                     Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(tree->viewport(), button, mods, tree->visualItemRect(item).center());
    };
    // Ctrl-click picks siblings, in the order clicked.
    click(Node(tree, "c.mp4"), Qt::NoModifier);
    click(Node(tree, "a.mp4"), Qt::ControlModifier);
    QCOMPARE(Texts(tree->SelectionOrder()), (QStringList{"c.mp4", "a.mp4"}));
    // A node of another folder starts a new selection.
    click(Node(tree, "y.mp4", d), Qt::ControlModifier);
    QCOMPARE(Texts(tree->SelectionOrder()), QStringList{"y.mp4"});
    click(Node(tree, "x.mp4", d), Qt::ControlModifier);
    QCOMPARE(Texts(tree->SelectionOrder()), (QStringList{"y.mp4", "x.mp4"}));
    // Shift-click from the folder to a file below its children keeps the siblings.
    click(d, Qt::NoModifier);
    click(Node(tree, "b.mp4"), Qt::ShiftModifier);
    QStringList range = Texts(tree->selectedItems());
    range.sort();
    QCOMPARE(range, (QStringList{"a.mp4", "b.mp4", "d"}));
    // A right click selects too.
    click(Node(tree, "c.mp4"), Qt::NoModifier, Qt::RightButton);
    QCOMPARE(Texts(tree->selectedItems()), QStringList{"c.mp4"});
    // Closing a folder takes its hidden nodes out of the selection.
    click(Node(tree, "x.mp4", d), Qt::NoModifier);
    tree->collapseItem(d);
    QVERIFY(tree->selectedItems().isEmpty());
    // A drop takes the files in selection order.
    tree->expandItem(d);
    click(Node(tree, "y.mp4", d), Qt::NoModifier);
    click(Node(tree, "x.mp4", d), Qt::ControlModifier);
    m_w->lstPlayListDragDrop(tree, QPoint(5, 5));
    QCOMPARE(Column(m_w->lstPlayList, 0), (QStringList{"y.mp4", "x.mp4"}));
}

void TstMediaLib::dropOfManyFilesShowsProgress() {
    // 150 names of one 10-minute mp3: each is measured in full before its row joins,
    // so the drop lasts a second or more even on a fast machine (about 8 ms a name).
    const QString root = m_dir->filePath(QStringLiteral("muchos"));
    QVERIFY(QDir().mkpath(root));
    const QString source = m_dir->filePath(QStringLiteral("largo.mp3"));
    QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"),
                               {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=440:d=600", "-ac",
                                "1", "-c:a", "libmp3lame", "-b:a", "32k", source}),
             0);
    const int names = 150;
    for (int i = 0; i < names; ++i)
        QVERIFY(QFile::link(source, root + QStringLiteral("/pista %1.mp3").arg(i)));
    m_w->txtRootFolder->setText(root);
    TExplorerTree* tree = m_w->lstExplorer;
    tree->selectAll();
    QCOMPARE(tree->selectedItems().size(), names);
    QList<int> positions;
    connect(m_w->progreso, &QProgressBar::valueChanged, this,
            [&](int v) { positions.push_back(v); });
    int paints = 0;
    auto* hook = new TEventHook(m_w->lstPlayList->viewport(), [&](QEvent* e) {
        paints += e->type() == QEvent::Paint ? 1 : 0;
        return false;
    });
    QElapsedTimer t;
    t.start();
    m_w->lstPlayListDragDrop(tree, QPoint(5, 5));
    const qint64 took = t.elapsed();
    delete hook;
    QCOMPARE(m_w->lstPlayList->RowCount(), names);
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(0), 0), QStringLiteral("pista 0.mp3"));
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(names - 1), 0),
             QStringLiteral("pista 149.mp3"));
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(names - 1), 1), QStringLiteral("00:10:00"));
    QCOMPARE(m_w->progreso->maximum(), names);
    QCOMPARE(m_w->progreso->value(), 0);
    // The drop must last long enough to have something to show (the window shows
    // progress every 250 ms); then it showed its progress and repainted the list.
    QVERIFY2(took >= 300, qPrintable(QStringLiteral("the drop took only %1 ms").arg(took)));
    QVERIFY2(positions.size() >= 2, qPrintable(QString::number(positions.size())));
    QVERIFY(positions.first() > 0 && positions.first() <= names);
    QVERIFY(paints >= 1);
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TstMediaLib t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_medialib.moc"
