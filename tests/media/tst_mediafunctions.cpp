#include "audio/AudioLayer.h"
#include "media/MediaFunctions.h"
#include "media/TavoriaError.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
void Touch(const QString& path,
           QFileDevice::Permissions perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    QVERIFY(f.setPermissions(perms));
}
QStringList Names(TListView* lv) {
    QStringList out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItem(lv->Row(i), 0);
    return out;
}
} // namespace

class TstMediaFunctions : public QObject {
    Q_OBJECT
private slots:
    void secondsToHms_data();
    void secondsToHms();
    void extensionIndex_data();
    void extensionIndex();
    void dequoted_data();
    void dequoted();
    void addMediaFileRows();
    void lineBreakNamesAreRefused();
    void addMediaFileMeasuresMp3();
    void folderListings();
    void nameOrder();
};

void TstMediaFunctions::secondsToHms_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("hms");
    QTest::newRow("zero") << 0.0 << "00:00:00";
    QTest::newRow("half to even down") << 2.5 << "00:00:02";
    QTest::newRow("half to even up") << 3.5 << "00:00:04";
    QTest::newRow("59.4") << 59.4 << "00:00:59";
    QTest::newRow("3599.5 rounds to the hour") << 3599.5 << "01:00:00";
    QTest::newRow("hours unlimited") << 360000.0 << "100:00:00";
    QTest::newRow("negative") << -5.0 << "00:00:00";
}

void TstMediaFunctions::secondsToHms() {
    QFETCH(double, seconds);
    QFETCH(QString, hms);
    QCOMPARE(SecondsToHms(seconds), hms);
}

void TstMediaFunctions::extensionIndex_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("index");
    QTest::newRow("mp3") << "/a/b.mp3" << 0;
    QTest::newRow("upper MP3") << "/a/B.MP3" << 0;
    QTest::newRow("mpg") << "x.mpg" << 5;
    QTest::newRow("webm") << "x.WebM" << 2;
    QTest::newRow("unknown") << "/a/b.txt" << -1;
    QTest::newRow("dot in folder only") << "/a.mp3/b" << -1;
    QTest::newRow("no extension") << "/a/mp3" << -1;
    QTest::newRow("double extension") << "/a/b.mp3.txt" << -1;
}

void TstMediaFunctions::extensionIndex() {
    QFETCH(QString, path);
    QFETCH(int, index);
    QCOMPARE(MediaExtensionIndex(path), index);
}

void TstMediaFunctions::dequoted_data() {
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << "Jingles"
                           << "Jingles";
    QTest::newRow("quoted") << "'Jingles'"
                            << "Jingles";
    QTest::newRow("doubled apostrophe") << "'Rock''n roll'"
                                        << "Rock'n roll";
    QTest::newRow("lone inner apostrophe dropped") << "'a'b'"
                                                   << "ab";
    QTest::newRow("single apostrophe") << "'"
                                       << "'";
    QTest::newRow("two apostrophes") << "''"
                                     << "";
    QTest::newRow("only leading") << "'abc"
                                  << "'abc";
}

void TstMediaFunctions::dequoted() {
    QFETCH(QString, tab);
    QFETCH(QString, folder);
    QCOMPARE(DequotedString(tab), folder);
}

void TstMediaFunctions::addMediaFileRows() {
    TListView lv;
    lv.setColumnCount(6);
    int inserted = 0;
    connect(&lv, &TListView::OnInsert, this, [&] { ++inserted; });
    AddMediaFile(QStringLiteral("/nowhere/clip one.MKV"), &lv);
    AddMediaFile(QStringLiteral("/nowhere/notes.txt"), &lv);
    QCOMPARE(lv.RowCount(), 1);
    QCOMPARE(inserted, 1);
    QTreeWidgetItem* row = lv.Row(0);
    QCOMPARE(TListView::SubItemCount(row), 5);
    QCOMPARE(TListView::SubItem(row, 0), QStringLiteral("clip one.MKV"));
    QCOMPARE(TListView::SubItem(row, 1), QStringLiteral("00:00:00"));
    QCOMPARE(TListView::SubItem(row, 2), QStringLiteral("/nowhere/clip one.MKV"));
    QCOMPARE(TListView::SubItem(row, 3), QStringLiteral("0"));
    QCOMPARE(TListView::SubItem(row, 4), QString());
    QCOMPARE(TListView::SubItemImage(row), 3);
    QVERIFY(row->text(0).isEmpty());
}

void TstMediaFunctions::lineBreakNamesAreRefused() {
    // A Linux name may hold a line break; config.ini keeps one cell a line, so such
    // a file is refused with a clear message and the others of a folder still list.
    QTemporaryDir dir;
    for (const char* name : {"a.mp4", "bad\nname.mp4", "c\rd.mkv", "z.mov"}) {
        QFile f(dir.filePath(QString::fromUtf8(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    TListView lv;
    lv.setColumnCount(6);
    try {
        AddMediaFile(dir.filePath(QStringLiteral("bad\nname.mp4")), &lv);
        QFAIL("a name with a line break was accepted");
    } catch (const TavoriaError& e) {
        QVERIFY2(e.message().contains(QStringLiteral("salto de línea")), qPrintable(e.message()));
        QVERIFY(e.message().contains(QStringLiteral("bad\\nname.mp4")));
    }
    QCOMPARE(lv.RowCount(), 0);

    QString error;
    try {
        AddFolderFiles(dir.path(), &lv);
    } catch (const TavoriaError& e) {
        error = e.message();
    }
    QStringList names;
    for (int i = 0; i < lv.RowCount(); ++i)
        names << TListView::SubItem(lv.Row(i), 0);
    names.sort();
    QCOMPARE(names, (QStringList{"a.mp4", "z.mov"}));
    QVERIFY2(error.contains(QStringLiteral("bad\\nname.mp4")) &&
                 error.contains(QStringLiteral("c\\rd.mkv")),
             qPrintable(error));
}

void TstMediaFunctions::addMediaFileMeasuresMp3() {
    QTemporaryDir dir;
    const QString mp3 = dir.filePath(QStringLiteral("tone.mp3"));
    const QString shortMp3 = dir.filePath(QStringLiteral("blip.mp3"));
    for (auto [path, secs] : {std::pair{mp3, "3"}, std::pair{shortMp3, "0.5"}}) {
        const int rc = QProcess::execute(QStringLiteral("ffmpeg"),
                                         {"-v", "error", "-y", "-f", "lavfi", "-i",
                                          QStringLiteral("sine=f=440:d=%1").arg(secs), "-c:a",
                                          "libmp3lame", "-b:a", "128k", path});
        QCOMPARE(rc, 0);
    }
    TListView lv;
    lv.setColumnCount(6);
    // Before the audio layer is initialised nothing can be measured.
    QCOMPARE(MediaDurationSeconds(mp3), 0.0);
    // Device 0 (no sound) is always there: the first initialisation must succeed.
    QVERIFY(BASS_Init(0, 44100, 0, nullptr, nullptr));
    const double seconds = MediaDurationSeconds(mp3);
    QVERIFY2(std::abs(seconds - 3.0) < 0.001, qPrintable(QString::number(seconds, 'f', 6)));
    AddMediaFile(mp3, &lv);
    AddMediaFile(shortMp3, &lv);
    AddMediaFile(dir.filePath(QStringLiteral("missing.mp3")), &lv);
    QCOMPARE(TListView::SubItem(lv.Row(0), 1), QStringLiteral("00:00:03"));
    QCOMPARE(TListView::SubItem(lv.Row(0), 3).toDouble(), seconds);
    // Under one second, or unopenable: "00:00:00" and "0".
    for (int i : {1, 2}) {
        QCOMPARE(TListView::SubItem(lv.Row(i), 1), QStringLiteral("00:00:00"));
        QCOMPARE(TListView::SubItem(lv.Row(i), 3), QStringLiteral("0"));
    }
}

void TstMediaFunctions::folderListings() {
    QTemporaryDir dir;
    const QString root = dir.path();
    QVERIFY(QDir(root).mkpath(QStringLiteral("Sub A")));
    QVERIFY(QDir(root).mkpath(QStringLiteral(".hidden")));
    QVERIFY(QDir(root).mkpath(QStringLiteral("Time")));
    QVERIFY(QDir(root).mkpath(QStringLiteral("folder.mp4")));
    Touch(root + QStringLiteral("/b.mp4"));
    Touch(root + QStringLiteral("/c.txt"));
    Touch(root + QStringLiteral("/.d.mkv"));
    Touch(root + QStringLiteral("/E.MOV"));
    Touch(root + QStringLiteral("/ro.mp4"), QFileDevice::ReadOwner);

    QStringList subs;
    ListSubfolders(root, subs);
    subs.sort();
    QCOMPARE(subs, (QStringList{"Sub A", "Time", "folder.mp4"}));
    QStringList none;
    ListSubfolders(root + QStringLiteral("/missing"), none);
    QVERIFY(none.isEmpty());

    TListView lv;
    lv.setColumnCount(5);
    AddFolderFiles(root, &lv);
    QStringList names = Names(&lv);
    names.sort();
    // Folders, hidden files, read-only files and unknown types are left out.
    QCOMPARE(names, (QStringList{"E.MOV", "b.mp4"}));

    QStringList entries = ListMediaEntries(root);
    entries.sort();
    // The tree hides files and folders whose names begin with ".", as the desktop does.
    QCOMPARE(entries, (QStringList{"E.MOV", "Sub A", "Time", "b.mp4", "folder.mp4", "ro.mp4"}));

    QCOMPARE(FindSubfolderIgnoringCase(root, QStringLiteral("time")),
             root + QStringLiteral("/Time"));
    QCOMPARE(FindSubfolderIgnoringCase(root, QStringLiteral("Efx")), root + QStringLiteral("/Efx"));
}

void TstMediaFunctions::nameOrder() {
    // As Windows lists a folder: letter case ignored, numbers by value, accents
    // after the plain letter; whatever order the file system keeps.
    const QStringList sorted{"_intro", "2 Jingles", "10 Noticias",  "Árbol",
                             "b",      "Clip 1",    "clip 2",       "clip 10",
                             "Ñandú",  "Risas",     "Transiciones", "Vacía"};
    QStringList scrambled{"Transiciones", "clip 10", "Risas",  "Ñandú",       "Clip 1", "2 Jingles",
                          "Vacía",        "b",       "_intro", "10 Noticias", "clip 2", "Árbol"};
    SortByName(scrambled);
    QCOMPARE(scrambled, sorted);
    // Names equal but for letter case keep one fixed order.
    QStringList twins{"a.mp4", "A.mp4"}, twins2{"A.mp4", "a.mp4"};
    SortByName(twins);
    SortByName(twins2);
    QCOMPARE(twins, twins2);

    // Every listing comes in that order: the effects tabs and the voices
    // (ListSubfolders), the effects list (AddFolderFiles), the explorer
    // (ListMediaEntries).
    QTemporaryDir dir;
    const QString root = dir.path();
    for (const QString& name : scrambled)
        QVERIFY(QDir(root).mkpath(QStringLiteral("dirs/") + name));
    QStringList files;
    for (const QString& name : scrambled)
        files << name + QStringLiteral(".mp4");
    std::reverse(files.begin(), files.end());
    QVERIFY(QDir(root).mkpath(QStringLiteral("files")));
    for (const QString& name : files)
        Touch(root + QStringLiteral("/files/") + name);
    QStringList subs;
    ListSubfolders(root + QStringLiteral("/dirs"), subs);
    QCOMPARE(subs, sorted);
    TListView lv;
    lv.setColumnCount(6);
    AddFolderFiles(root + QStringLiteral("/files"), &lv);
    QStringList expectedFiles;
    for (const QString& name : sorted)
        expectedFiles << name + QStringLiteral(".mp4");
    QCOMPARE(Names(&lv), expectedFiles);
    QCOMPARE(ListMediaEntries(root + QStringLiteral("/files")), expectedFiles);
}

QTEST_MAIN(TstMediaFunctions)
#include "tst_mediafunctions.moc"
