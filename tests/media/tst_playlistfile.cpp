// Playlist files: the exact export, the import of our own and of other players'
// files, and files that are damaged or hostile.
#include "HttpTestServer.h"
#include "media/MediaFunctions.h"
#include "media/PlaylistFile.h"
#include "media/TListView.h"
#include "media/TavoriaError.h"
#include "media/TitleLookup.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
TImageList Images() {
    TImageList images(QStringLiteral("icons16"), QSize(16, 16));
    for (int i = 0; i < 20; ++i)
        images.Add(QIcon());
    return images;
}
QStringList Column(TListView* lv, int j) {
    QStringList out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItem(lv->Row(i), j);
    return out;
}
QList<int> Images(TListView* lv) {
    QList<int> out;
    for (int i = 0; i < lv->RowCount(); ++i)
        out << TListView::SubItemImage(lv->Row(i));
    return out;
}
void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
template <typename F> QString ErrorOf(F f) {
    try {
        f();
    } catch (const TavoriaError& e) {
        return e.message();
    }
    return QString();
}
} // namespace

class TstPlaylistFile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void exportWritesTheRows();
    void exportOfAnEmptyList();
    void exportReplacesALongerFile();
    void exportRefusesLineBreaks();
    void exportToAMissingFolder();
    void roundTrip();
    void importOfAnotherPlayersFile();
    void importRefusesWhatIsNoPlaylist_data();
    void importRefusesWhatIsNoPlaylist();
    void hugeCountsAndMissingEntries();
    void lineFeedInsideAPath();
    void fileAddressOfANameWithALineBreak();
    void aNulInsideAPathNamesNoFile();
    void progressAndAFailedLookup();

private:
    TListView* NewList();
    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<std::unique_ptr<TListView>> m_lists;
    TImageList m_images = Images();
    HttpTestServer m_server;
};

void TstPlaylistFile::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    m_lists.clear();
    qputenv("TAVORIA_TITLE_HOST", m_server.Host().toUtf8());
    m_server.SetTitle("V&iacute;deo &amp; charla");
}

TListView* TstPlaylistFile::NewList() {
    auto lv = std::make_unique<TListView>();
    lv->setColumnCount(6);
    lv->SetSmallImages(&m_images);
    m_lists.push_back(std::move(lv));
    return m_lists.back().get();
}

void TstPlaylistFile::exportWritesTheRows() {
    TListView* lv = NewList();
    lv->AppendRows(
        {lv->MakeRow({"uno.mp3", "00:03:00", "/m/uno.mp3", "180", "2"}, 0),
         lv->MakeRow({"Título", "00:00:00", "http://youtube.com/watch?v=x", "0", ""}, 13)});
    QProgressBar bar;
    QSignalSpy positions(&bar, &QProgressBar::valueChanged);
    const QString file = m_dir->filePath(QStringLiteral("lista.pls"));
    SavePlaylistFile(lv, file, &bar);
    QCOMPARE(Read(file), QByteArray("\xEF\xBB\xBF[playlist]\r\n"
                                    "NumberOfEntries=2\r\n"
                                    "Title1=uno.mp3\r\nFile1=/m/uno.mp3\r\nLength1=00:03:00\r\n"
                                    "Title2=T\xC3\xADtulo\r\nFile2=http://youtube.com/watch?v=x\r\n"
                                    "Length2=00:00:00\r\n\r\n"));
    // The bar showed each row and stands at 0 again.
    QCOMPARE(bar.maximum(), 2);
    QCOMPARE(bar.value(), 0);
    QVERIFY(positions.size() >= 2);
    QCOMPARE(positions[0][0].toInt(), 1);
}

void TstPlaylistFile::exportOfAnEmptyList() {
    const QString file = m_dir->filePath(QStringLiteral("vacia.pls"));
    QProgressBar bar;
    SavePlaylistFile(NewList(), file, &bar);
    QCOMPARE(Read(file), QByteArray("\xEF\xBB\xBF[playlist]\r\nNumberOfEntries=0\r\n\r\n"));
    QCOMPARE(bar.value(), 0);
    // No busy animation for an empty list.
    QVERIFY(bar.maximum() > bar.minimum());
}

void TstPlaylistFile::exportReplacesALongerFile() {
    const QString file = m_dir->filePath(QStringLiteral("lista.pls"));
    Write(file, "[playlist]\r\nNumberOfEntries=3\r\nFile1=a\r\nFile2=b\r\nFile3=c\r\n"
                "[otra]\r\nclave=1\r\n");
    TListView* lv = NewList();
    lv->AppendRows({lv->MakeRow({"x.mp4", "00:00:00", "/x.mp4", "0", ""}, 1)});
    SavePlaylistFile(lv, file, nullptr);
    const QByteArray bytes = Read(file);
    QVERIFY(!bytes.contains("File2") && !bytes.contains("File3") && !bytes.contains("otra"));
    QVERIFY(bytes.contains("NumberOfEntries=1\r\n"));
}

void TstPlaylistFile::exportRefusesLineBreaks() {
    // A name with a line feed would split its line and lose the entry: the export
    // says so and leaves the file that was there.
    const QString file = m_dir->filePath(QStringLiteral("lista.pls"));
    Write(file, "[playlist]\r\nNumberOfEntries=0\r\n");
    TListView* lv = NewList();
    lv->AppendRows(
        {lv->MakeRow({"bien.mp4", "00:00:00", "/bien.mp4", "0", ""}, 1),
         lv->MakeRow({"mal\nnombre.mp4", "00:00:00", "/d/mal\nnombre.mp4", "0", ""}, 1)});
    const QString error = ErrorOf([&] { SavePlaylistFile(lv, file, nullptr); });
    QVERIFY2(error.contains(QStringLiteral("fila 2")) &&
                 error.contains(QStringLiteral("salto de línea")),
             qPrintable(error));
    QCOMPARE(Read(file), QByteArray("[playlist]\r\nNumberOfEntries=0\r\n"));
}

void TstPlaylistFile::exportToAMissingFolder() {
    const QString file = m_dir->filePath(QStringLiteral("no/existe/lista.pls"));
    QProgressBar bar;
    const QString error = ErrorOf([&] { SavePlaylistFile(NewList(), file, &bar); });
    QVERIFY2(error.contains(file), qPrintable(error));
    QCOMPARE(bar.value(), 0);
}

void TstPlaylistFile::roundTrip() {
    const QString clip = m_dir->filePath(QStringLiteral("clip uno.mp4"));
    Write(clip, "x");
    TListView* out = NewList();
    AddMediaFile(clip, out);
    AddMediaUrl(QStringLiteral("http://radio.example/vivo/stream.mp3"), out);
    AddMediaUrl(QStringLiteral("https://www.youtube.com/watch?v=dQw4w9WgXcQ"), out);
    out->SetSubItem(out->Row(0), 4, QStringLiteral("3"));
    const QString file = m_dir->filePath(QStringLiteral("ida y vuelta.pls"));
    SavePlaylistFile(out, file, nullptr);

    m_server.ClearRequests();
    m_server.SetTitle("Otro t&iacute;tulo");
    TListView* in = NewList();
    QProgressBar bar;
    LoadPlaylistFile(in, file, &bar);
    QCOMPARE(Column(in, 2), Column(out, 2));
    // The file's row is built again from the file, the plain address named by its
    // last segment, the video's title looked up again; no caption links.
    QCOMPARE(Column(in, 0),
             (QStringList{"clip uno.mp4", "stream.mp3", QString::fromUtf8("Otro título")}));
    QCOMPARE(Column(in, 4), (QStringList{"", "", ""}));
    QCOMPARE(Images(in), (QList<int>{1, 12, 13}));
    QCOMPARE(m_server.Requests().size(), 1);
    QCOMPARE(bar.value(), 0);
}

void TstPlaylistFile::importOfAnotherPlayersFile() {
    // Written by another player on Windows: Windows-1252 text, lower-case names,
    // a version key, lengths in seconds or -1, a relative path with "\", a file:
    // address, a path of another machine and a file of an unknown type.
    const QString sub = m_dir->filePath(QStringLiteral("música"));
    QVERIFY(QDir().mkpath(sub));
    Write(sub + QStringLiteral("/canción.mp4"), "x");
    Write(m_dir->filePath(QStringLiteral("notas.txt")), "x");
    Write(m_dir->filePath(QStringLiteral("abs.mkv")), "x");
    const QByteArray absUrl =
        QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("abs.mkv"))).toEncoded();
    const QString file = m_dir->filePath(QStringLiteral("winamp.pls"));
    Write(file, "[Playlist]\nfile1=m\xFAsica\\canci\xF3n.mp4\ntitle1=Canci\xF3n\nlength1=215\n"
                "File2=" +
                    absUrl +
                    "\nLength2=-1\n"
                    "FILE3=C:\\Users\\ana\\M\xFAsica\\tema.mp3\n"
                    "File4=notas.txt\n"
                    "File5=http://radio.example/vivo\n"
                    "NUMBEROFENTRIES=5\nVersion=2\n");
    TListView* lv = NewList();
    LoadPlaylistFile(lv, file, nullptr);
    QCOMPARE(Column(lv, 0),
             (QStringList{QString::fromUtf8("canción.mp4"), "abs.mkv",
                          QString::fromUtf8("C:\\Users\\ana\\Música\\tema.mp3"), "vivo"}));
    QCOMPARE(Column(lv, 2),
             (QStringList{sub + QString::fromUtf8("/canción.mp4"), m_dir->filePath("abs.mkv"),
                          QString::fromUtf8("C:\\Users\\ana\\Música\\tema.mp3"),
                          "http://radio.example/vivo"}));
    QCOMPARE(Images(lv), (QList<int>{1, 3, 12, 12}));
    QCOMPARE(Column(lv, 1), (QStringList{"00:00:00", "00:00:00", "00:00:00", "00:00:00"}));
}

void TstPlaylistFile::importRefusesWhatIsNoPlaylist_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty file") << QByteArray() << "[playlist]";
    QTest::newRow("no section") << QByteArray("NumberOfEntries=1\nFile1=/a.mp4\n") << "[playlist]";
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\x00\x00", 10) << "[playlist]";
    QTest::newRow("no count") << QByteArray("[playlist]\nFile1=/a.mp4\n") << "NumberOfEntries";
    QTest::newRow("count not a number")
        << QByteArray("[playlist]\nNumberOfEntries=muchas\n") << "NumberOfEntries";
    QTest::newRow("count beyond 32 bits")
        << QByteArray("[playlist]\nNumberOfEntries=99999999999\n") << "NumberOfEntries";
    QTest::newRow("negative count")
        << QByteArray("[playlist]\nNumberOfEntries=-3\nFile1=/a.mp4\n") << "negativo (-3)";
    QTest::newRow("a million entries missing")
        << QByteArray("[playlist]\nNumberOfEntries=2147483647\nFile1000000=/a.mp4\n")
        << "no tiene 999999";
}

void TstPlaylistFile::importRefusesWhatIsNoPlaylist() {
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    const QString file = m_dir->filePath(QStringLiteral("mala.pls"));
    Write(file, content);
    TListView* lv = NewList();
    lv->AppendRows({lv->MakeRow({"queda.mp4", "00:00:00", "/queda.mp4", "0", ""}, 1)});
    QProgressBar bar;
    bar.setRange(0, 10);
    bar.setValue(0);
    const QString error = ErrorOf([&] { LoadPlaylistFile(lv, file, &bar); });
    QVERIFY2(error.contains(message) && error.contains(file), qPrintable(error));
    // Nothing changed: the row is still there and the bar untouched.
    QCOMPARE(Column(lv, 0), QStringList{"queda.mp4"});
    QCOMPARE(bar.maximum(), 10);
    // A file that is not there at all.
    const QString missing =
        ErrorOf([&] { LoadPlaylistFile(lv, m_dir->filePath(QStringLiteral("nada.pls")), &bar); });
    QVERIFY2(missing.contains(QStringLiteral("nada.pls")), qPrintable(missing));
}

void TstPlaylistFile::hugeCountsAndMissingEntries() {
    // A count far beyond the entries costs nothing: the import ends at the highest
    // "File" present; missing entries below it are empty rows.
    const QString clip = m_dir->filePath(QStringLiteral("a.mp4"));
    Write(clip, "x");
    const QString file = m_dir->filePath(QStringLiteral("enorme.pls"));
    Write(file, "[playlist]\nNumberOfEntries=2147483647\nFile1=" + clip.toUtf8() +
                    "\nFile3=http://x.example/c.mp3\nFile4=\n");
    TListView* lv = NewList();
    QElapsedTimer t;
    t.start();
    LoadPlaylistFile(lv, file, nullptr);
    QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(Column(lv, 0), (QStringList{"a.mp4", "", "c.mp3", ""}));
    QCOMPARE(Column(lv, 2), (QStringList{clip, "", "http://x.example/c.mp3", ""}));
    QCOMPARE(Images(lv), (QList<int>{1, 12, 12, 12}));
    // Entries above the count are not read.
    Write(file,
          "[playlist]\nNumberOfEntries=1\nFile1=http://x.example/1\nFile2=http://x.example/2\n");
    TListView* two = NewList();
    LoadPlaylistFile(two, file, nullptr);
    QCOMPARE(Column(two, 0), QStringList{"1"});
    // A count of 0 imports nothing and is no error.
    Write(file, "[playlist]\nNumberOfEntries=0\nFile1=http://x.example/1\n");
    TListView* none = NewList();
    LoadPlaylistFile(none, file, nullptr);
    QCOMPARE(none->RowCount(), 0);
}

void TstPlaylistFile::lineFeedInsideAPath() {
    // A line break splits the line when the file is read: the part before it is the
    // entry, the rest is a line without "=" that counts for nothing.
    const QString file = m_dir->filePath(QStringLiteral("partida.pls"));
    Write(file, "[playlist]\r\nNumberOfEntries=2\r\nFile1=/musica/mal\nnombre.mp4\r\n"
                "File2=http://x.example/dos.mp3\r\n");
    TListView* lv = NewList();
    LoadPlaylistFile(lv, file, nullptr);
    QCOMPARE(Column(lv, 2), (QStringList{"/musica/mal", "http://x.example/dos.mp3"}));
}

void TstPlaylistFile::fileAddressOfANameWithALineBreak() {
    // A "file:" address spells the line break as %0A, so the line stays whole and
    // names a file that exists. Such a file cannot be kept in a list: the import ends
    // there with the reason, as the window runs it (from its own event loop), and the
    // rows before it stay.
    const QString bad = m_dir->filePath(QStringLiteral("mal\nnombre.mp4"));
    Write(bad, "x");
    const QString file = m_dir->filePath(QStringLiteral("salto.pls"));
    Write(file, "[playlist]\nNumberOfEntries=3\nFile1=http://x.example/uno\nFile2=" +
                    QUrl::fromLocalFile(bad).toEncoded() + "\nFile3=http://x.example/tres\n");
    QVERIFY(QUrl::fromLocalFile(bad).toEncoded().contains("%0A"));
    TListView* lv = NewList();
    TPlaylistImport import(lv, nullptr);
    import.Open(file);
    QSignalSpy finished(&import, &TPlaylistImport::Finished);
    import.Start();
    QVERIFY(finished.size() == 1 || finished.wait(10000));
    const QString error = finished.at(0).at(0).toString();
    QVERIFY2(error.contains(QStringLiteral("salto de línea")), qPrintable(error));
    QCOMPARE(Column(lv, 2), (QStringList{"http://x.example/uno"}));
}

void TstPlaylistFile::aNulInsideAPathNamesNoFile() {
    // No file name holds a NUL: an entry with one names no file, even when the text
    // before it names one that exists (the system would read the path only up to the
    // NUL). It is kept as an address, like any other text that names no file.
    const QString real = m_dir->filePath(QStringLiteral("tema.mp4"));
    Write(real, "x");
    const QString file = m_dir->filePath(QStringLiteral("nul.pls"));
    const QByteArray nul(1, '\0');
    Write(file, "[playlist]\nNumberOfEntries=3\nFile1=" + QFile::encodeName(real) + nul +
                    "otro.mp4\nFile2=tema.mp4" + nul + "otro.mp4\nFile3=tema.mp4\n");
    TListView* lv = NewList();
    LoadPlaylistFile(lv, file, nullptr);
    QCOMPARE(lv->RowCount(), 3);
    for (int i = 0; i < 2; ++i) {
        const QString location = TListView::SubItem(lv->Row(i), 2);
        QVERIFY2(location.contains(QChar(0)), qPrintable(location));
        QCOMPARE(TListView::SubItemImage(lv->Row(i)), 12);
    }
    // Without the NUL the same name is the file.
    QCOMPARE(TListView::SubItem(lv->Row(2), 2), real);
    QVERIFY(TListView::SubItemImage(lv->Row(2)) != 12);
}

void TstPlaylistFile::progressAndAFailedLookup() {
    // 300 plain addresses, then a video-site address whose lookup fails, then more:
    // the rows before it stay, the rest are not imported, the bar stays there.
    QByteArray content = "[playlist]\nNumberOfEntries=400\n";
    for (int k = 1; k <= 400; ++k)
        content += "File" + QByteArray::number(k) +
                   (k == 301 ? QByteArray("=http://youtube.com/watch?v=roto0000000\n")
                             : "=http://x.example/" + QByteArray::number(k) + "\n");
    const QString file = m_dir->filePath(QStringLiteral("rota.pls"));
    Write(file, content);
    m_server.SetAnswer({500, "Internal Server Error", "text/html", ""});
    TListView* lv = NewList();
    QProgressBar bar;
    QSignalSpy positions(&bar, &QProgressBar::valueChanged);
    const QString error = ErrorOf([&] { LoadPlaylistFile(lv, file, &bar); });
    QVERIFY2(error.contains(QStringLiteral("500")), qPrintable(error));
    QCOMPARE(lv->RowCount(), 300);
    QCOMPARE(TListView::SubItem(lv->Row(299), 2), QStringLiteral("http://x.example/300"));
    QCOMPARE(bar.maximum(), 400);
    QCOMPARE(bar.value(), 301);
    QVERIFY(positions.size() >= 1);
}

QTEST_MAIN(TstPlaylistFile)
#include "tst_playlistfile.moc"
