// The window's start-up, shutdown and settings, driven as the operator's
// config.ini and folders would drive them.
#include "app/ConfigPrefetch.h"
#include "app/QtSpanish.h"
#include "app/TfrmMain.h"
#include "media/TIniDocument.h"
#include "player/VlcPlayerUnit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <memory>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

void Touch(const QString& path) {
    WriteAll(path, "x");
}

QStringList Names(TListView* lv) {
    QStringList out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItem(lv->Row(i), 0);
    return out;
}

// The keys of a section in file order.
QStringList KeysOf(const QByteArray& file, const QByteArray& section) {
    QStringList keys;
    bool in = false;
    for (const QByteArray& line : file.split('\n')) {
        const QByteArray l = line.trimmed();
        if (l.startsWith('[')) {
            in = l == "[" + section + "]";
            continue;
        }
        if (in && l.contains('='))
            keys << QString::fromUtf8(l.left(l.indexOf('=')));
    }
    return keys;
}

} // namespace

class TstStartup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstStartWithoutConfig();
    void richConfigRestoresEverything_data();
    void richConfigRestoresEverything();
    void readAheadServesItsOwnFileOnly();
    void staleTabIsNoTabAndStartUpGoesOn();
    void unreadableConfigAtStartAndAtClose_data();
    void unreadableConfigAtStartAndAtClose();
    void closeSavesInOrderAndSalirSavesNothing();
    void saveLoadRoundTripIsByteStable();
    void statusBarAndErrorBox();
    void playlistColumnsAllVisible();
    void lineBreakNameDroppedKeepsThePlaylist();
    void lineBreakFileInTheSavedEffectsTab();
    void foldersWithALineBreakAreRefused_data();
    void foldersWithALineBreakAreRefused();
    void emptyConfigAndMissingOutputFolder();
    void qtOwnTextsInSpanish();
    void restoredEffectsTabShowsItsLengths();

private:
    std::unique_ptr<TfrmMain> Start() { return std::make_unique<TfrmMain>(); }
    // As the program starts: config.ini read ahead when the test's "read ahead" asks.
    std::unique_ptr<TfrmMain> StartAsAsked() {
        QFETCH(bool, readAhead);
        if (readAhead)
            ConfigPrefetch::Start(QStringLiteral("config.ini"));
        return Start();
    }
    static void ReadAheadRows() {
        QTest::addColumn<bool>("readAhead");
        QTest::newRow("read by the window") << false;
        QTest::newRow("read ahead by the program") << true;
    }
    void MakeEffectsFolder(const QString& root);
    void LaterStepsRanThenClose(TfrmMain* w);
    void FlagsSavedWithTab(int tab);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TstStartup::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TstStartup::cleanup() {
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TstStartup::MakeEffectsFolder(const QString& root) {
    for (const char* sub : {"Efx/Uno", "Efx/Dos", "Efx/'Tres'", "time/Voz1", "time/Voz2"})
        QVERIFY(QDir(root).mkpath(QString::fromUtf8(sub)));
    Touch(root + QStringLiteral("/Efx/Uno/u1.mp4"));
    Touch(root + QStringLiteral("/Efx/Dos/d1.mkv"));
    Touch(root + QStringLiteral("/Efx/Dos/d2.mov"));
    Touch(root + QStringLiteral("/Efx/Dos/notes.txt"));
}

void TstStartup::firstStartWithoutConfig() {
    auto w = Start();
    QCOMPARE(w->txtRootFolder->text(), QDir::homePath() + QStringLiteral("/Videos"));
    QCOMPARE(w->txtFolderCunas->text(), QCoreApplication::applicationDirPath());
    QCOMPARE(w->txtCurrentSong->text(), QCoreApplication::applicationDirPath());
    QCOMPARE(w->txtRepeat->value(), 1);
    QCOMPARE(w->volPrincipal->value(), 1);
    QCOMPARE(w->tbCue->value(), 1);
    QCOMPARE(w->volPisador->value(), 90);
    QCOMPARE(w->tabEfectos->TabIndex(), -1);
    QVERIFY(!w->chkNDI->isChecked() && !w->chkUdp->isChecked() && !w->chkTopSubtitle->isChecked());
    QCOMPARE(w->lstPlayList->RowCount(), 0);
    QVERIFY(!QFile::exists(QStringLiteral("debug.txt")));
    // Device 0 (no sound) is in the effects card list only: entry k of the main
    // list is device k + 1.
    QVERIFY(w->cboSoundCue->count() >= 1);
    QCOMPARE(w->cboSoundMain->count(), w->cboSoundCue->count() - 1);
    for (int k = 0; k < w->cboSoundMain->count(); ++k) {
        QCOMPARE(w->cboSoundMain->itemText(k), w->cboSoundCue->itemText(k + 1));
        QCOMPARE(w->cboSoundMain->itemData(k).toInt(), k + 1);
    }
    QVERIFY(w->cboSoundCue->findText(QStringLiteral("JingleCard")) > 0);
    // The window, its title and the hidden controls.
    QCOMPARE(w->windowTitle(), QStringLiteral("Tavoria 3.2 (beta)"));
    QCOMPARE(w->minimumSize(), QSize(1100, 650));
    QVERIFY(w->findChild<QWidget*>(QStringLiteral("panAuxiliar"))->isHidden());
    QVERIFY(w->cboSoundInput->isHidden());
    QCOMPARE(w->tmrHora->interval(), 1000);
    QCOMPARE(w->tmrVumeter->interval(), 100);
    QVERIFY(w->tmrHora->isActive() && w->tmrVumeter->isActive() && !w->tmrRegresivo->isActive());
    QVERIFY(w->N720p1->isChecked());
}

void TstStartup::richConfigRestoresEverything_data() {
    ReadAheadRows();
}

void TstStartup::richConfigRestoresEverything() {
    const QString effects = m_dir->filePath(QStringLiteral("fx"));
    MakeEffectsFolder(effects);
    const QString root = m_dir->filePath(QStringLiteral("media"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/sub")));
    Touch(root + QStringLiteral("/a.mp4"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    WriteAll(out + QStringLiteral("/marquesina.txt"), "\xEF\xBB\xBF"
                                                      "Linea A\tLinea B");
    WriteAll(QStringLiteral("config.ini"),
             "[lstTextos]\ntotalX=4\ntotalY=1\niconindex0=-1\ncelda00=Ana\ncelda01=Charla\n"
             "[lstJingles]\ntotalX=5\ntotalY=1\ncelda00=old.mp3\n"
             "[lstPlayList]\ntotalX=6\ntotalY=2\niconindex0=1\ncelda00=a.mp4\ncelda02=/m/a.mp4\n"
             "iconindex1=12\ncelda10=x\ncelda12=http://h/x\n"
             "[CONFIG]\nRootFolder=" +
                 root.toUtf8() + "\nCunhasFolder=" + effects.toUtf8() +
                 "\nOutTextos=" + out.toUtf8() +
                 "\nSoundHoras=1\nVolPrincipal=40\nVolEfectos=250\nVolPisador=150\n"
                 "RepetirDesde=0\nEfectosIndex=0x1\nNDIMode=2\nUDPMode=1\nTOPSubTitle=yes\n");
    auto w = StartAsAsked();
    QVERIFY2(!QFile::exists(QStringLiteral("debug.txt")), ReadAll(QStringLiteral("debug.txt")));
    QCOMPARE(w->lstTextos->RowCount(), 1);
    QCOMPARE(TListView::SubItem(w->lstTextos->Row(0), 1), QStringLiteral("Charla"));
    QCOMPARE(Names(w->lstPlayList), (QStringList{"a.mp4", "x"}));
    QCOMPARE(TListView::SubItemImage(w->lstPlayList->Row(1)), 12);
    QCOMPARE(w->tabEfectos->Count(), 3);
    QCOMPARE(w->tabEfectos->TabIndex(), 1);
    // The selected tab replaced the effects rows restored from the file.
    QStringList expected;
    if (w->tabEfectos->TabText(1) == QStringLiteral("Dos"))
        expected = {"d1.mkv", "d2.mov"};
    else if (w->tabEfectos->TabText(1) == QStringLiteral("Uno"))
        expected = {"u1.mp4"};
    QStringList names = Names(w->lstJingles);
    names.sort();
    QCOMPARE(names, expected);
    QCOMPARE(w->cboHoras->count(), 2);
    QCOMPARE(w->cboHoras->currentIndex(), 1);
    QCOMPARE(w->volPrincipal->value(), 40);
    QCOMPARE(w->tbCue->value(), 100);
    QCOMPARE(w->volPisador->value(), 98);
    QCOMPARE(w->txtRepeat->value(), 1);
    QVERIFY(w->chkNDI->isChecked());
    QVERIFY(w->chkUdp->isChecked());
    QVERIFY(!w->chkTopSubtitle->isChecked());
    // NDI at start: no main card choice, no picture adjustment, NDI start options.
    QVERIFY(!w->cboSoundMain->isEnabled());
    QVERIFY(!w->chkVideoAdjustEnable->isEnabled());
    QCOMPARE(w->vlcPlayer->StartOptions(),
             (QStringList{QStringLiteral("--vout=NDI"), QStringLiteral("--aout=NDI")}));
    QCOMPARE(w->txtMarquesina->toPlainText(), QStringLiteral("Linea A\tLinea B"));
    // The explorer shows the root's sub-folder first, then its media files.
    QCOMPARE(w->lstExplorer->topLevelItemCount(), 2);
    QCOMPARE(w->lstExplorer->topLevelItem(0)->text(0), QStringLiteral("sub"));
    QCOMPARE(w->lstExplorer->topLevelItem(1)->text(0), QStringLiteral("a.mp4"));
}

void TstStartup::readAheadServesItsOwnFileOnly() {
    // A read started for another file is not taken for config.ini: the window reads
    // its own. Section names match in any letter case, and a table is handed once.
    QVERIFY(QDir().mkpath(QStringLiteral("other")));
    WriteAll(QStringLiteral("other/config.ini"),
             "[lstPlayList]\ntotalX=1\ntotalY=1\ncelda00=otra\n");
    WriteAll(QStringLiteral("config.ini"),
             "[LSTPLAYLIST]\ntotalX=1\ntotalY=2\ncelda00=uno\ncelda10=dos\n[CONFIG]\n"
             "VolPrincipal=33\n");
    ConfigPrefetch::Start(QStringLiteral("other/config.ini"));
    ConfigLoad load = ConfigPrefetch::Take(QStringLiteral("config.ini"));
    QVERIFY(load.ini);
    QCOMPARE(load.ini->ReadInteger(QStringLiteral("CONFIG"), QStringLiteral("VolPrincipal"), 0),
             33);
    const ListTableRows rows = load.TakeTable(QStringLiteral("lstPlayList"));
    QCOMPARE(rows.cells, (QList<QStringList>{{"uno"}, {"dos"}}));
    QVERIFY(load.TakeTable(QStringLiteral("lstPlayList")).cells.isEmpty());
    QVERIFY(load.TakeTable(QStringLiteral("lstEventos")).cells.isEmpty());
    // Nothing is left waiting: the next take reads the file as it is then.
    WriteAll(QStringLiteral("config.ini"), "[CONFIG]\nVolPrincipal=44\n");
    ConfigLoad again = ConfigPrefetch::Take(QStringLiteral("config.ini"));
    QCOMPARE(again.ini->ReadInteger(QStringLiteral("CONFIG"), QStringLiteral("VolPrincipal"), 0),
             44);
    QVERIFY(again.tables.isEmpty());
    // Started in the working folder, the read is taken by its path, wherever the
    // working folder went meanwhile.
    ConfigPrefetch::Start(QStringLiteral("config.ini"));
    const QString here = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral("other")));
    ConfigLoad moved = ConfigPrefetch::Take(here + QStringLiteral("/config.ini"));
    QVERIFY(QDir::setCurrent(here));
    QCOMPARE(moved.ini->ReadInteger(QStringLiteral("CONFIG"), QStringLiteral("VolPrincipal"), 0),
             44);
}

// The settings after the effects tab were loaded and the NDI step ran; the window
// then closes.
void TstStartup::LaterStepsRanThenClose(TfrmMain* w) {
    QVERIFY(w->chkNDI->isChecked() && w->chkUdp->isChecked() && w->chkTopSubtitle->isChecked());
    QCOMPARE(w->txtMarquesina->toPlainText(), QStringLiteral("Bienvenidos"));
    QCOMPARE(w->vlcPlayer->StartOptions(),
             (QStringList{QStringLiteral("--vout=NDI"), QStringLiteral("--aout=NDI")}));
    w->show();
    QVERIFY(w->close());
}

// The close wrote back the three flags as the operator had them, and the tab.
void TstStartup::FlagsSavedWithTab(int tab) {
    const TIniDocument ini(QStringLiteral("config.ini"));
    const QString c = QStringLiteral("CONFIG");
    QCOMPARE(ini.ReadInteger(c, QStringLiteral("NDIMode"), -9), 1);
    QCOMPARE(ini.ReadInteger(c, QStringLiteral("UDPMode"), -9), 1);
    QCOMPARE(ini.ReadInteger(c, QStringLiteral("TOPSubTitle"), -9), 1);
    QCOMPARE(ini.ReadInteger(c, QStringLiteral("EfectosIndex"), -9), tab);
}

void TstStartup::staleTabIsNoTabAndStartUpGoesOn() {
    // An effects tab that is no longer there (drive not mounted, folder renamed) is
    // recorded and selects no tab; every later setting and start-up step still runs,
    // so the close writes back what the operator had.
    const QString effects = m_dir->filePath(QStringLiteral("fx"));
    MakeEffectsFolder(effects);
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    WriteAll(out + QStringLiteral("/marquesina.txt"), "Bienvenidos");
    for (const char* tab : {"5", "-2"}) {
        WriteAll(QStringLiteral("config.ini"), "[CONFIG]\nCunhasFolder=" + effects.toUtf8() +
                                                   "\nOutTextos=" + out.toUtf8() +
                                                   "\nEfectosIndex=" + QByteArray(tab) +
                                                   "\nNDIMode=1\nUDPMode=1\nTOPSubTitle=1\n");
        QFile::remove(QStringLiteral("debug.txt"));
        {
            auto w = Start();
            QCOMPARE(ReadAll(QStringLiteral("debug.txt")), QByteArray("Tab index out of bounds"));
            QCOMPARE(w->tabEfectos->Count(), 3);
            QCOMPARE(w->tabEfectos->TabIndex(), -1);
            LaterStepsRanThenClose(w.get());
            if (QTest::currentTestFailed())
                return;
        }
        FlagsSavedWithTab(-1);
    }
}

void TstStartup::lineBreakFileInTheSavedEffectsTab() {
    // A file of the saved effects tab whose name holds a line break is left out of
    // the effects list and recorded; the rest of the tab and every later setting and
    // start-up step still load, and the close writes back what the operator had.
    const QString effects = m_dir->filePath(QStringLiteral("fx"));
    MakeEffectsFolder(effects);
    Touch(effects + QStringLiteral("/Efx/Dos/d3\nsegunda.mp4"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    WriteAll(out + QStringLiteral("/marquesina.txt"), "Bienvenidos");
    WriteAll(QStringLiteral("config.ini"), "[CONFIG]\nCunhasFolder=" + effects.toUtf8() +
                                               "\nOutTextos=" + out.toUtf8() +
                                               "\nEfectosIndex=1\nNDIMode=1\nUDPMode=1\n"
                                               "TOPSubTitle=1\n");
    {
        auto w = Start();
        QCOMPARE(w->tabEfectos->TabText(w->tabEfectos->TabIndex()), QStringLiteral("Dos"));
        QStringList names;
        for (int i = 0; i < w->lstJingles->RowCount(); ++i)
            names << TListView::SubItem(w->lstJingles->Row(i), 0);
        QCOMPARE(names, (QStringList{QStringLiteral("d1.mkv"), QStringLiteral("d2.mov")}));
        const QByteArray debug = ReadAll(QStringLiteral("debug.txt"));
        QVERIFY2(debug.contains("d3\\nsegunda.mp4") && debug.contains("salto de l"), debug);
        LaterStepsRanThenClose(w.get());
        if (QTest::currentTestFailed())
            return;
    }
    FlagsSavedWithTab(1);
}

void TstStartup::foldersWithALineBreakAreRefused_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("edit");
    QTest::newRow("output folder") << "cmdCurrentFolder"
                                   << "txtCurrentSong";
    QTest::newRow("effects folder") << "cmdSetCunas"
                                    << "txtFolderCunas";
    QTest::newRow("explorer root") << "cmdRootExplorador"
                                   << "txtRootFolder";
}

void TstStartup::foldersWithALineBreakAreRefused() {
    // A folder whose name holds a line break cannot be kept in config.ini: the
    // picker's choice is refused with one message, the previous folder stays, and
    // the close still saves.
    QFETCH(QString, button);
    QFETCH(QString, edit);
    const QString bad = m_dir->filePath(QStringLiteral("mal\nnombre"));
    QVERIFY(QDir().mkpath(bad));
    auto w = Start();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    auto* button_ = w->findChild<QAbstractButton*>(button);
    auto* edit_ = w->findChild<QLineEdit*>(edit);
    QVERIFY(button_ && edit_);
    const QString before = edit_->text();
    w->PickFolder = [&] { return bad; };
    button_->click();
    QCOMPARE(edit_->text(), before);
    QCOMPARE(w->Errors().Count(), 1);
    QCOMPARE(w->Errors().LastText(),
             QStringLiteral("No se puede usar la carpeta \"%1\": el nombre contiene un salto "
                            "de línea")
                 .arg(m_dir->filePath(QStringLiteral("mal\\nnombre"))));
    // A good folder is still taken.
    const QString good = m_dir->filePath(QStringLiteral("buena"));
    QVERIFY(QDir().mkpath(good));
    w->PickFolder = [&] { return good; };
    button_->click();
    QCOMPARE(edit_->text(), good);
    QVERIFY(w->close());
    QVERIFY(ReadAll(QStringLiteral("config.ini")).contains(good.toUtf8()));
}

void TstStartup::unreadableConfigAtStartAndAtClose_data() {
    ReadAheadRows();
}

void TstStartup::unreadableConfigAtStartAndAtClose() {
    QVERIFY(QDir().mkpath(QStringLiteral("config.ini")));
    auto w = StartAsAsked();
    const QByteArray debug = ReadAll(QStringLiteral("debug.txt"));
    QVERIFY2(debug.contains("config.ini"), debug);
    QCOMPARE(w->lstPlayList->RowCount(), 0);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // Closing cannot save: one error box, the window stays open, nothing crashes.
    QVERIFY(!w->close());
    QCOMPARE(w->Errors().Count(), 1);
    QVERIFY(w->Errors().LastText().contains(QStringLiteral("config.ini")));
    QVERIFY(w->Errors().BoxVisible());
    QVERIFY(w->isVisible());
}

void TstStartup::closeSavesInOrderAndSalirSavesNothing() {
    WriteAll(QStringLiteral("config.ini"), "[Other]\nkeep=me\n");
    {
        auto w = Start();
        TListView* pl = w->lstPlayList;
        QTreeWidgetItem* row = pl->AddItem();
        for (const char* s : {"a.mp4", "00:00:00", "/m/a.mp4", "0", ""})
            pl->AddSubItem(row, QString::fromUtf8(s));
        // Skipping failed rows is off unless the operator turns it on.
        QVERIFY(!w->chkSaltarError->isChecked());
        w->chkSaltarError->setChecked(true);
        w->show();
        QVERIFY(w->close());
    }
    const QByteArray saved = ReadAll(QStringLiteral("config.ini"));
    QVERIFY(saved.startsWith("\xEF\xBB\xBF[Other]\r\nkeep=me\r\n\r\n[CONFIG]\r\n"));
    // Every line ends with CR LF.
    QVERIFY(!QByteArray(saved).replace("\r\n", "").contains('\n'));
    QVERIFY(saved.endsWith("\r\n\r\n"));
    const QByteArray bytes = ReadAll(QStringLiteral("config.ini"));
    QCOMPARE(KeysOf(bytes, "CONFIG"),
             (QStringList{"RootFolder", "CunhasFolder", "OutTextos", "SoundMain", "SoundCue",
                          "SoundInput", "SoundHoras", "RepetirDesde", "EfectosIndex",
                          "VolPrincipal", "VolEfectos", "VolPisador", "NDIMode", "UDPMode",
                          "TOPSubTitle", "SaltarError"}));
    // The list sections follow in the order of their first save.
    QStringList sections;
    for (const QByteArray& line : bytes.mid(3).split('\n'))
        if (line.startsWith('['))
            sections << QString::fromUtf8(line.trimmed());
    QCOMPARE(sections, (QStringList{"[Other]", "[CONFIG]", "[lstJingles]", "[lstPlayList]",
                                    "[lstEventos]", "[lstTextos]"}));
    TIniDocument doc(QStringLiteral("config.ini"));
    QCOMPARE(doc.ReadString("lstPlayList", "celda02", QString()), QStringLiteral("/m/a.mp4"));
    QCOMPARE(doc.ReadInteger("CONFIG", "EfectosIndex", 0), -1);
    QCOMPARE(doc.ReadInteger("CONFIG", "VolPisador", 0), 90);
    QVERIFY(doc.ReadBool("CONFIG", "SaltarError", false));

    // "Salir" ends without writing anything.
    {
        auto w = Start();
        QVERIFY(w->chkSaltarError->isChecked()); // read back at start
        // The saved row's file does not exist: it is marked once the list is loaded.
        QCOMPARE(w->lstPlayList->RowCount(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(TfrmMain::RowFailed(w->lstPlayList->Row(0)), 10000);
        w->volPrincipal->setValue(77);
        w->lstPlayList->ClearItems();
        w->Salir1Click();
    }
    QCOMPARE(ReadAll(QStringLiteral("config.ini")), bytes);
}

void TstStartup::saveLoadRoundTripIsByteStable() {
    const QString effects = m_dir->filePath(QStringLiteral("fx"));
    MakeEffectsFolder(effects);
    WriteAll(QStringLiteral("config.ini"),
             "[CONFIG]\nCunhasFolder=" + effects.toUtf8() +
                 "\nEfectosIndex=2\nVolPrincipal=33\nVolPisador=12\nUDPMode=1\nRepetirDesde=4\n"
                 "[lstTextos]\ntotalX=4\ntotalY=1\ncelda00=Ana\ncelda01=Charla\ncelda02=Sala\n");
    {
        auto w = Start();
        QVERIFY(w->close());
    }
    const QByteArray first = ReadAll(QStringLiteral("config.ini"));
    {
        auto w = Start();
        QCOMPARE(w->volPrincipal->value(), 33);
        QCOMPARE(w->txtRepeat->value(), 4);
        QCOMPARE(w->tabEfectos->TabIndex(), 2);
        QVERIFY(w->close());
    }
    QCOMPARE(ReadAll(QStringLiteral("config.ini")), first);
}

void TstStartup::playlistColumnsAllVisible() {
    // "Ruta" and "Segundos" are 1 px wide, so "Nombre", "Duracion" and "lowerthird"
    // all fit in the playlist at the window's first size, without a scroll bar.
    auto w = Start();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    TListView* pl = w->lstPlayList;
    QCOMPARE(pl->columnWidth(3), 1);
    QCOMPARE(pl->columnWidth(4), 1);
    const QHeaderView* header = pl->header();
    for (const int column : {1, 2, 5}) {
        QVERIFY(!pl->isColumnHidden(column));
        const int left = header->sectionViewportPosition(column);
        QVERIFY2(left >= 0 && left + 16 <= pl->viewport()->width(),
                 qPrintable(QStringLiteral("column %1 starts at %2 in a %3 px list")
                                .arg(column)
                                .arg(left)
                                .arg(pl->viewport()->width())));
    }
    QVERIFY(!pl->horizontalScrollBar()->isVisible());
}

void TstStartup::lineBreakNameDroppedKeepsThePlaylist() {
    // A file whose name holds a line break is refused with one clear message; the
    // rest of the drop goes in, and config.ini still restores the whole playlist.
    QStringList paths;
    for (const char* name : {"a.mp4", "b\nc.mp4", "d.mkv"}) {
        paths << m_dir->filePath(QString::fromUtf8(name));
        Touch(paths.back());
    }
    {
        auto w = Start();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        mime.setUrls(urls);
        QVERIFY(w->HandleFileDrop(&mime));
        QCOMPARE(Names(w->lstPlayList), (QStringList{"a.mp4", "d.mkv"}));
        QCOMPARE(w->Errors().Count(), 1);
        QVERIFY2(w->Errors().LastText().contains(QStringLiteral("salto de línea")),
                 qPrintable(w->Errors().LastText()));
        QVERIFY(w->close());
    }
    auto w = Start();
    QCOMPARE(Names(w->lstPlayList), (QStringList{"a.mp4", "d.mkv"}));
    QCOMPARE(TListView::SubItem(w->lstPlayList->Row(1), 2), paths[2]);
}

void TstStartup::statusBarAndErrorBox() {
    auto w = Start();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // The panels follow the window's width once per real resize: the bar never
    // grows past the window, panel 0 stays inside it, and an idle window stops
    // resizing its bar.
    QSignalSpy resizes(w->barStatus, &TStatusBar::Resized);
    for (const int width : {1100, 900, 1300}) {
        w->resize(width, 650);
        QTRY_COMPARE(w->barStatus->width(), w->width());
        QLabel* panel0 = w->barStatus->Panel(0);
        QTRY_VERIFY(panel0->width() <= w->barStatus->width() - 200 &&
                    panel0->width() >= w->barStatus->width() - 230);
        QVERIFY2(panel0->width() >= w->barStatus->width() - 230,
                 qPrintable(QStringLiteral("panel 0 is %1 px in a %2 px bar")
                                .arg(panel0->width())
                                .arg(w->barStatus->width())));
        QVERIFY(panel0->geometry().right() < w->barStatus->width());
        QVERIFY(w->barStatus->Panel(1)->geometry().right() < w->barStatus->width());
    }
    resizes.clear();
    QTest::qWait(500);
    QCOMPARE(resizes.count(), 0);
    QCOMPARE(w->barStatus->width(), w->width());
    w->Mensaje(QStringLiteral("Insertado"), 0);
    QCOMPARE(w->barStatus->Panel(0)->text(), QStringLiteral("Insertado"));
    QVERIFY(w->barStatus->Panel(0)->isVisible());

    // A failing handler, ten times in a row: one box, the desk runs on.
    for (int i = 0; i < 10; ++i)
        w->Guard([] { throw std::runtime_error("No se pudo escribir \"hora.txt\""); });
    QCOMPARE(w->Errors().Count(), 10);
    QVERIFY(w->Errors().BoxVisible());
    int boxes = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(top) && top->isVisible() &&
            top->objectName() == QStringLiteral("ErrorBox"))
            ++boxes;
    QCOMPARE(boxes, 1);
}

void TstStartup::emptyConfigAndMissingOutputFolder() {
    WriteAll(QStringLiteral("config.ini"), "");
    {
        auto w = Start();
        QVERIFY(!QFile::exists(QStringLiteral("debug.txt")));
        QCOMPARE(w->volPisador->value(), 90);
        QCOMPARE(w->txtRepeat->value(), 1);
    }
    const QString missing = m_dir->filePath(QStringLiteral("no/such/folder"));
    WriteAll(QStringLiteral("config.ini"), "[CONFIG]\nOutTextos=" + missing.toUtf8() + "\n");
    auto w = Start();
    QVERIFY(!QFile::exists(QStringLiteral("debug.txt")));
    QCOMPARE(w->txtCurrentSong->text(), missing);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // The clock cannot write "hora.txt": the failure is reported once, in one box,
    // though each tick tries again, and the clock label still runs. (Ticks are
    // driven by the test.)
    w->tmrHora->stop();
    for (int i = 0; i < 3; ++i)
        QVERIFY(QMetaObject::invokeMethod(w->tmrHora, "timeout", Qt::DirectConnection));
    QCOMPARE(w->Errors().Count(), 1);
    QVERIFY(w->Errors().LastText().contains(QStringLiteral("hora.txt")));
    QVERIFY(w->lblHora->text() != QStringLiteral("00:00:00"));
    // The output-folder picker: a choice replaces the folder, a cancel keeps it.
    const QString chosen = m_dir->path();
    w->PickFolder = [&] { return chosen; };
    w->cmdCurrentFolder->click();
    QCOMPARE(w->txtCurrentSong->text(), chosen);
    w->PickFolder = [] { return QString(); };
    w->cmdCurrentFolder->click();
    QCOMPARE(w->txtCurrentSong->text(), chosen);
    QVERIFY(QMetaObject::invokeMethod(w->tmrHora, "timeout", Qt::DirectConnection));
    QCOMPARE(w->Errors().Count(), 1);
    QCOMPARE(ReadAll(chosen + QStringLiteral("/hora.txt")).size(), 8);
}

void TstStartup::qtOwnTextsInSpanish() {
    // Qt's own texts (standard buttons, file dialogs, the edits' menus) speak the
    // desk's language whatever the system's; numbers keep the system's locale.
    const QLocale before;
    QVERIFY(InstallQtSpanish(qApp));
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancelar"));
    for (const auto& [context, text] : {std::pair{"QFileDialog", "Look in:"},
                                        {"QFileDialog", "File &name:"},
                                        {"QLineEdit", "&Paste"},
                                        {"QPlatformTheme", "Save"}}) {
        const QString translated = QCoreApplication::translate(context, text);
        QVERIFY2(translated != QLatin1String(text) && !translated.isEmpty(),
                 qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(context), translated)));
    }
    QCOMPARE(QLocale().name(), before.name());
}

void TstStartup::restoredEffectsTabShowsItsLengths() {
    // The effects tab chosen before the close comes back with the lengths of its
    // jingles, as when it is chosen by hand.
    const QString effects = m_dir->filePath(QStringLiteral("fx"));
    QVERIFY(QDir(effects).mkpath(QStringLiteral("Efx/Jingles")));
    const QString jingle = effects + QStringLiteral("/Efx/Jingles/entrada.mp3");
    QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"),
                               {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=440:d=3", "-c:a",
                                "libmp3lame", jingle}),
             0);
    WriteAll(QStringLiteral("config.ini"),
             "[CONFIG]\nCunhasFolder=" + effects.toUtf8() + "\nEfectosIndex=0\n");
    auto w = Start();
    QCOMPARE(w->tabEfectos->TabIndex(), 0);
    QCOMPARE(w->lstJingles->RowCount(), 1);
    QCOMPARE(TListView::SubItem(w->lstJingles->Row(0), 1), QStringLiteral("00:00:03"));
    QVERIFY(TListView::SubItem(w->lstJingles->Row(0), 3).startsWith(QLatin1Char('3')));
    // The same as a tab chosen by hand.
    w->tabEfectosChange(0);
    QCOMPARE(TListView::SubItem(w->lstJingles->Row(0), 1), QStringLiteral("00:00:03"));
}

int main(int argc, char** argv) {
    // A home of our own with a videos folder, so the defaults are known.
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("Videos"));
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TstStartup t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_startup.moc"
