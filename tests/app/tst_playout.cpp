// The playlist, the transport and the output settings in the real window, playing
// real clips through libVLC under the headless session's X display.
#include "../player/PlayerTestSupport.h"
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "tests/DeskTestSupport.h"
#include "tests/SessionSkip.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

namespace {

QString StatusText(TfrmMain* w) {
    return w->barStatus->Panel(0)->text();
}

using desktest::AddRow;

bool Run(const QString& program, const QStringList& args) {
    return QProcess::execute(program, args) == 0;
}

// Share of pixels of the window's area of the screen close to the colour.
double ColourShare(const QImage& image, QRect r, QColor colour) {
    int hits = 0, total = 0;
    for (int y = r.top(); y <= r.bottom(); y += 4)
        for (int x = r.left(); x <= r.right(); x += 4) {
            const QColor c = image.pixelColor(x, y);
            ++total;
            if (std::abs(c.red() - colour.red()) < 60 &&
                std::abs(c.green() - colour.green()) < 60 &&
                std::abs(c.blue() - colour.blue()) < 60)
                ++hits;
        }
    return total ? double(hits) / total : 0;
}

} // namespace

class TstPlayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listPlaysItselfInALoop();
    void clipsOfAnyLengthMoveTheListOn_data();
    void clipsOfAnyLengthMoveTheListOn();
    void endActsOncePerPlayedMedia();
    void endOfTheReplacedMediaIsIgnored();
    void failedRowsAreMarked_data();
    void failedRowsAreMarked();
    void missingFilesAreMarkedWhenKnown();
    void skipRowsWithErrors();
    void repeatThenStopAfterThis();
    void udpOutputIsReceived();
    void mp3PlaysWithItsCover();
    void errorsAndEdgesOfNext();
    void mediaKeyRunsNext();
    void resolutionMenuAndVolumes();
    void droppedFilesBecomeRows();
    void savedVolumeAtTheBottomIsSilence();

private:
    std::unique_ptr<TfrmMain> m_w;
    std::unique_ptr<QTemporaryDir> m_work;
    QTemporaryDir m_media;
    QString m_clip6[3], m_clip3, m_clip10, m_mp3, m_cover;
    QString m_short[7]; // clips of 1, 3, 5 and 6 s by their length
    QString m_red, m_broken;
};

void TstPlayout::initTestCase() {
    QVERIFY(m_media.isValid());
    for (int i = 0; i < 3; ++i) {
        m_clip6[i] = m_media.filePath(QStringLiteral("six%1.mp4").arg(i));
        QVERIFY(MakeVideoClip(m_clip6[i], 6));
    }
    m_clip3 = m_media.filePath(QStringLiteral("three.mp4"));
    QVERIFY(MakeVideoClip(m_clip3, 3));
    for (int seconds : {1, 3, 5}) {
        m_short[seconds] = m_media.filePath(QStringLiteral("short%1.mp4").arg(seconds));
        QVERIFY(MakeVideoClip(m_short[seconds], seconds));
    }
    m_short[6] = m_clip6[0];
    m_red = m_media.filePath(QStringLiteral("red.mp4"));
    QVERIFY(MakeMedia(m_red, {"-f", "lavfi", "-i", "color=c=red:s=320x240:d=4", "-c:v", "libx264",
                              "-pix_fmt", "yuv420p"}));
    // Bytes that no demuxer takes for media.
    m_broken = m_media.filePath(QStringLiteral("broken.mp4"));
    {
        QFile f(m_broken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray junk(64 * 1024, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919 + 13) % 251);
        f.write(junk);
    }
    m_clip10 = m_media.filePath(QStringLiteral("ten.mp4"));
    QVERIFY(MakeVideoClip(m_clip10, 10));
    QVERIFY(QDir(m_media.path()).mkpath(QStringLiteral("disco #1 %20")));
    m_mp3 = m_media.filePath(QStringLiteral("disco #1 %20/song.mp3"));
    QVERIFY(MakeAudioClip(m_mp3, 8));
    m_cover = m_media.filePath(QStringLiteral("disco #1 %20/cover.jpg"));
    QVERIFY(
        MakeMedia(m_cover, {"-f", "lavfi", "-i", "color=c=red:s=320x240:d=1", "-frames:v", "1"}));
}

void TstPlayout::init() {
    QVERIFY(desktest::EnterNewWorkFolder(m_work));
    QVERIFY(desktest::OpenDesk(m_w, m_work->path()));
}

void TstPlayout::savedVolumeAtTheBottomIsSilence() {
    // A main volume saved at its lowest position plays silent from the first clip,
    // not at libVLC's full volume.
    m_w.reset();
    QFile config(QStringLiteral("config.ini"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[CONFIG]\nVolPrincipal=100\n");
    config.close();
    QVERIFY(desktest::OpenDesk(m_w));
    QCOMPARE(m_w->volPrincipal->value(), 100);
    AddRow(m_w.get(), m_clip10);
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(playing, 1, 10000);
    QTRY_COMPARE(VlcAudioGetVolume(m_w->vlcPlayer->GetPlayerHandle()), 0);
}

void TstPlayout::cleanup() {
    desktest::CloseDesk(m_w, m_work);
}

void TstPlayout::listPlaysItselfInALoop() {
    for (const QString& clip : m_clip6)
        AddRow(m_w.get(), clip);
    m_w->txtRepeat->setValue(1);
    QList<int> played;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this,
            [&] { played << m_w->CurrentIndex; });
    m_w->cmdNext->click();
    QTRY_VERIFY_WITH_TIMEOUT(played.size() >= 4, 60000);
    QCOMPARE(played.mid(0, 4), (QList<int>{0, 1, 2, 0}));
    QCOMPARE(m_w->NextIndex, 1);
    // The rows' durations were filled in from the lengths libVLC reported.
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(1), 1), QStringLiteral("00:00:06"));
    QCOMPARE(m_w->lblDuracion->text(), QStringLiteral("00:00:06"));
    QVERIFY(m_w->lblEndTime->text().startsWith(QStringLiteral("Termina a las: ")));
    QTRY_VERIFY_WITH_TIMEOUT(m_w->LastTimeMs > 0, 5000);
    // Green playing row, yellow next row.
    QCOMPARE(m_w->lstPlayListCustomDrawItem(0), QColor(0, 128, 0));
    QCOMPARE(m_w->lstPlayListCustomDrawItem(1), QColor(255, 255, 0));
    QVERIFY(!m_w->lstPlayListCustomDrawItem(2).isValid());
}

void TstPlayout::clipsOfAnyLengthMoveTheListOn_data() {
    QTest::addColumn<int>("seconds");
    QTest::addColumn<bool>("udp");
    for (int seconds : {1, 3, 5, 6})
        for (bool udp : {false, true})
            QTest::addRow("%d s, UDP %s", seconds, udp ? "on" : "off") << seconds << udp;
}

void TstPlayout::clipsOfAnyLengthMoveTheListOn() {
    QFETCH(int, seconds);
    QFETCH(bool, udp);
    AddRow(m_w.get(), m_short[seconds]);
    AddRow(m_w.get(), m_clip3);
    if (udp) {
        QTcpServer probe; // a free port number, reused for UDP
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        m_w->txtUdp->setText(QStringLiteral("127.0.0.1:%1").arg(probe.serverPort()));
        m_w->chkUdp->setChecked(true);
    }
    QList<int> played;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this,
            [&] { played << m_w->CurrentIndex; });
    m_w->cmdNext->click();
    // The first clip ends and the second row starts by itself.
    QTRY_VERIFY_WITH_TIMEOUT(played.size() >= 2, 40000);
    QCOMPARE(played.mid(0, 2), (QList<int>{0, 1}));
    QCOMPARE(m_w->CurrentIndex, 1);
}

void TstPlayout::endActsOncePerPlayedMedia() {
    AddRow(m_w.get(), m_short[1]);
    AddRow(m_w.get(), m_clip3);
    const QString gone = m_work->filePath(QStringLiteral("gone.mp4"));
    AddRow(m_w.get(), gone);
    int ends = 0, playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerEndReached, this, [&] { ++ends; });
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    // Stop-after-this: the end is acted on (nothing new starts) ...
    m_w->cmdStopOnPlay->click();
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(ends, 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(m_w->vlcPlayer->GetState(), vlcPlayer_Ended, 5000);
    m_w->cmdStopOnPlay->click();
    QVERIFY(!m_w->cmdStopOnPlay->isChecked());
    // ... so a second end report of the same media moves nothing.
    emit m_w->vlcPlayer->OnMediaPlayerEndReached();
    QTest::qWait(1500);
    QCOMPARE(playing, 1);
    QCOMPARE(m_w->CurrentIndex, 0);
    QCOMPARE(m_w->NextIndex, 1);
    // A media that never played: its end report does not move the list on either.
    m_w->NextIndex = 2;
    m_w->cmdNext->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        StatusText(m_w.get()).startsWith(QStringLiteral("Error al reproducir este archivo")),
        15000);
    QCOMPARE(m_w->CurrentIndex, 2);
    const int next = m_w->NextIndex;
    emit m_w->vlcPlayer->OnMediaPlayerEndReached();
    emit m_w->vlcPlayer->OnMediaPlayerEndReached();
    QTest::qWait(1500);
    QCOMPARE(playing, 1);
    QCOMPARE(m_w->CurrentIndex, 2);
    QCOMPARE(m_w->NextIndex, next);
}

void TstPlayout::endOfTheReplacedMediaIsIgnored() {
    AddRow(m_w.get(), m_clip10);
    AddRow(m_w.get(), m_clip10);
    AddRow(m_w.get(), m_clip3);
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(playing, 1, 10000);
    // The operator presses Next just as the first clip ends: the end report of the
    // clip that was replaced reaches the window after the new row has started.
    m_w->cmdNextClick();
    QCOMPARE(m_w->CurrentIndex, 1);
    m_w->vlcPlayerMediaPlayerEndReached();
    QCOMPARE(m_w->CurrentIndex, 1);
    QTRY_COMPARE_WITH_TIMEOUT(playing, 2, 10000);
    QTest::qWait(1000);
    QCOMPARE(m_w->CurrentIndex, 1);
    QCOMPARE(playing, 2);
}

void TstPlayout::failedRowsAreMarked_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << "missing";
    QTest::newRow("file libVLC cannot decode") << "broken";
    QTest::newRow("unreadable file") << "unreadable";
    QTest::newRow("address that does not answer") << "refused";
}

void TstPlayout::failedRowsAreMarked() {
    QFETCH(QString, kind);
    QString path;
    if (kind == QStringLiteral("missing"))
        path = m_work->filePath(QStringLiteral("missing.mp4"));
    else if (kind == QStringLiteral("broken"))
        path = m_broken;
    else if (kind == QStringLiteral("refused"))
        path = QStringLiteral("http://127.0.0.1:1/nothing.mp4");
    else {
        path = m_work->filePath(QStringLiteral("locked.mp4"));
        QVERIFY(QFile::copy(m_clip3, path));
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("this user reads files whatever their permissions");
    }
    // A red clip is on the monitor first.
    AddRow(m_w.get(), m_red);
    AddRow(m_w.get(), path);
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(playing, 1, 10000);
    const QRect area(m_w->vlcPlayer->mapToGlobal(QPoint(0, 0)), m_w->vlcPlayer->size());
    auto share = [&](QColor colour) {
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        return ColourShare(screen, area.intersected(screen.rect()), colour);
    };
    QTRY_VERIFY_WITH_TIMEOUT(share(Qt::red) >= 0.5, 10000);
    m_w->cmdNext->click();
    const QString message = QStringLiteral("Error al reproducir este archivo: ") + path;
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(m_w.get()), message, 20000);
    QCOMPARE(m_w->CurrentIndex, 1);
    QTreeWidgetItem* row = m_w->lstPlayList->Row(1);
    QVERIFY(TfrmMain::RowFailed(row));
    QVERIFY(m_w->lstPlayListCustomDrawItem(1) != QColor(0, 128, 0));
    QCOMPARE(row->foreground(1).color(), QColor(200, 0, 0));
    // The monitor shows nothing of the red clip.
    QTRY_VERIFY_WITH_TIMEOUT(share(Qt::black) >= 0.9, 10000);
    QVERIFY(share(Qt::red) < 0.05);
    // The mark stays until the row plays: the red row plays, the failed one keeps it.
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(playing, 2, 10000);
    QVERIFY(TfrmMain::RowFailed(row));
    QVERIFY(!TfrmMain::RowFailed(m_w->lstPlayList->Row(0)));
}

void TstPlayout::missingFilesAreMarkedWhenKnown() {
    const QString soon = m_work->filePath(QStringLiteral("soon gone.mp4"));
    QVERIFY(QFile::copy(m_clip3, soon));
    const QString never = m_work->filePath(QStringLiteral("never there.mp4"));
    AddRow(m_w.get(), m_clip3);
    AddRow(m_w.get(), soon);
    AddRow(m_w.get(), never);
    AddRow(m_w.get(), QStringLiteral("http://127.0.0.1:1/web.mp4"));
    // Added: the missing one is marked without being played.
    QTRY_VERIFY_WITH_TIMEOUT(TfrmMain::RowFailed(m_w->lstPlayList->Row(2)), 10000);
    QTest::qWait(300);
    QVERIFY(!TfrmMain::RowFailed(m_w->lstPlayList->Row(0)));
    QVERIFY(!TfrmMain::RowFailed(m_w->lstPlayList->Row(1)));
    QVERIFY(!TfrmMain::RowFailed(m_w->lstPlayList->Row(3)));
    // A file that goes away is told when its row becomes the next one.
    QVERIFY(QFile::remove(soon));
    m_w->cmdNext->click();
    QCOMPARE(m_w->NextIndex, 1);
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(m_w.get()),
                              QStringLiteral("El siguiente archivo no existe: ") + soon, 10000);
    QVERIFY(TfrmMain::RowFailed(m_w->lstPlayList->Row(1)));
    // 10,000 rows of which every tenth is missing: the window keeps answering while
    // they are checked, and the missing ones end up marked.
    QStringList paths;
    for (int i = 0; i < 10000; ++i)
        paths << (i % 10 == 0 ? m_work->filePath(QStringLiteral("none%1.mp4").arg(i)) : m_clip3);
    TListView* pl = m_w->lstPlayList;
    QList<QTreeWidgetItem*> rows;
    for (const QString& p : paths)
        rows << pl->MakeRow({QFileInfo(p).fileName(), QStringLiteral("00:00:00"), p,
                             QStringLiteral("0"), QString()},
                            1);
    pl->AppendRows(rows);
    QTRY_VERIFY_WITH_TIMEOUT(TfrmMain::RowFailed(pl->Row(pl->RowCount() - 10)), 60000);
    int marked = 0;
    for (int i = 4; i < pl->RowCount(); ++i)
        marked += TfrmMain::RowFailed(pl->Row(i)) ? 1 : 0;
    QCOMPARE(marked, 1000);
}

void TstPlayout::skipRowsWithErrors() {
    QCOMPARE(m_w->chkSaltarError->text(), QStringLiteral("Saltar pistas con error"));
    QVERIFY(!m_w->chkSaltarError->isChecked());
    m_w->chkSaltarError->setChecked(true);
    AddRow(m_w.get(), m_short[1]);
    AddRow(m_w.get(), m_work->filePath(QStringLiteral("missing.mp4")));
    AddRow(m_w.get(), m_broken);
    AddRow(m_w.get(), m_clip3);
    QList<int> played;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this,
            [&] { played << m_w->CurrentIndex; });
    m_w->cmdNext->click();
    // The 1 s clip ends, the two failing rows are marked and passed, the last plays
    // (libVLC reports the undecodable file as playing for an instant).
    QTRY_VERIFY_WITH_TIMEOUT(played.contains(3), 40000);
    QCOMPARE(played.first(), 0);
    QVERIFY(!played.contains(1));
    QCOMPARE(m_w->CurrentIndex, 3);
    QVERIFY(TfrmMain::RowFailed(m_w->lstPlayList->Row(1)));
    QVERIFY(TfrmMain::RowFailed(m_w->lstPlayList->Row(2)));
    // Three failures in a row stop the list with one message.
    m_w->cmdStop->click();
    m_w->Nuevo1->trigger();
    for (int i = 0; i < 4; ++i)
        AddRow(m_w.get(), m_work->filePath(QStringLiteral("gone%1.mp4").arg(i)));
    AddRow(m_w.get(), m_clip3);
    played.clear();
    m_w->cmdNext->click();
    const QString stopped =
        QStringLiteral("Tres pistas seguidas no se pudieron reproducir: la lista se detuvo");
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(m_w.get()), stopped, 20000);
    QCOMPARE(m_w->CurrentIndex, 2);
    QTest::qWait(2000);
    QCOMPARE(m_w->CurrentIndex, 2);
    QVERIFY(played.isEmpty());
    QCOMPARE(StatusText(m_w.get()), stopped);
}

void TstPlayout::repeatThenStopAfterThis() {
    AddRow(m_w.get(), m_clip6[0]);
    AddRow(m_w.get(), m_clip6[1]);
    AddRow(m_w.get(), m_clip6[2]);
    QList<int> played;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this,
            [&] { played << m_w->CurrentIndex; });
    m_w->cmdRepeat->click();
    QVERIFY(m_w->cmdRepeat->isChecked());
    m_w->cmdNext->click();
    QTRY_VERIFY_WITH_TIMEOUT(played.size() >= 2, 20000);
    QCOMPARE(played.mid(0, 2), (QList<int>{0, 0}));
    QCOMPARE(m_w->NextIndex, 1);
    // Pressing stop-after-this releases Repeat.
    m_w->cmdStopOnPlay->click();
    QVERIFY(m_w->cmdStopOnPlay->isChecked() && !m_w->cmdRepeat->isChecked());
    int ends = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerEndReached, this, [&] { ++ends; });
    QTRY_COMPARE_WITH_TIMEOUT(ends, 1, 20000);
    QTest::qWait(1000);
    QCOMPARE(played.size(), 2);
    QCOMPARE(m_w->vlcPlayer->GetState(), vlcPlayer_Ended);
    // Next starts the yellow row.
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(played.size(), 3, 10000);
    QCOMPARE(played.last(), 1);
}

void TstPlayout::udpOutputIsReceived() {
    QTcpServer probe; // a free port number, reused for UDP
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const int port = probe.serverPort();
    probe.close();
    AddRow(m_w.get(), m_clip10);
    m_w->chkUdp->setChecked(true);
    m_w->txtUdp->setText(QStringLiteral("127.0.0.1:%1").arg(port));
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {"-v", "error", "-show_entries", "format=format_name", "-of", "csv=p=0",
                   QStringLiteral("udp://127.0.0.1:%1?timeout=8000000").arg(port)});
    QVERIFY(ffprobe.waitForStarted());
    m_w->cmdNext->click();
    QVERIFY(ffprobe.waitForFinished(30000));
    const QString out = QString::fromUtf8(ffprobe.readAllStandardOutput()).trimmed();
    QVERIFY2(out.contains(QStringLiteral("mpegts")),
             qPrintable(out + ffprobe.readAllStandardError()));
}

void TstPlayout::mp3PlaysWithItsCover() {
    AddRow(m_w.get(), m_mp3);
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    m_w->cmdNext->click();
    // The status bar shows the picture's path as the operator knows it.
    QCOMPARE(StatusText(m_w.get()), m_cover);
    QTRY_COMPARE_WITH_TIMEOUT(playing, 1, 10000);
    // The monitor shows the red cover.
    const QRect area(m_w->vlcPlayer->mapToGlobal(QPoint(0, 0)), m_w->vlcPlayer->size());
    double share = 0;
    for (int i = 0; i < 40 && share < 0.5; ++i) {
        QTest::qWait(250);
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        share = ColourShare(screen, area.intersected(screen.rect()), Qt::red);
    }
    QVERIFY2(share >= 0.5, qPrintable(QString::number(share)));
}

void TstPlayout::errorsAndEdgesOfNext() {
    // Next on an empty list only clears the status panel.
    m_w->Mensaje(QStringLiteral("x"), 0);
    m_w->cmdNext->click();
    QCOMPARE(StatusText(m_w.get()), QString());
    QCOMPARE(m_w->CurrentIndex, 0);

    // A row whose file vanished: the error message, the positions already moved on.
    const QString gone = m_work->filePath(QStringLiteral("vanished.mp4"));
    AddRow(m_w.get(), gone);
    AddRow(m_w.get(), m_clip6[0]);
    m_w->cmdNext->click();
    QCOMPARE(m_w->CurrentIndex, 0);
    QCOMPARE(m_w->NextIndex, 1);
    QTRY_VERIFY_WITH_TIMEOUT(
        StatusText(m_w.get()).startsWith(QStringLiteral("Error al reproducir este archivo")),
        15000);
    QVERIFY2(StatusText(m_w.get()).contains(QStringLiteral("vanished.mp4")),
             qPrintable(StatusText(m_w.get())));

    // A web address that refuses the connection: the message names the address.
    const QString refused = QStringLiteral("http://127.0.0.1:1/nothing.mp4");
    AddRow(m_w.get(), refused);
    m_w->NextIndex = 2;
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(StatusText(m_w.get()),
                              QStringLiteral("Error al reproducir este archivo: ") + refused,
                              15000);
    m_w->lstPlayList->DeleteItem(2);

    // Delete the last row while it is NextIndex: NextIndex goes back to 0.
    m_w->lstPlayList->clearSelection();
    m_w->lstPlayList->Row(1)->setSelected(true);
    QTest::keyClick(m_w->lstPlayList, Qt::Key_Delete);
    QCOMPARE(m_w->lstPlayList->RowCount(), 1);
    QCOMPARE(m_w->NextIndex, 0);

    // "Limpiar Lista", then rows again: Next plays the first row.
    m_w->Nuevo1->trigger();
    QCOMPARE(m_w->CurrentIndex, -1);
    QCOMPARE(m_w->NextIndex, -1);
    QCOMPARE(m_w->lstPlayList->RowCount(), 0);
    AddRow(m_w.get(), m_clip6[0]);
    AddRow(m_w.get(), m_clip6[1]);
    QCOMPARE(StatusText(m_w.get()), QStringLiteral("Insertado"));
    // "Repetir desde:" beyond the list after the last row: Next goes on from row 0.
    m_w->txtRepeat->setValue(9);
    m_w->NextIndex = 1;
    m_w->cmdNext->click();
    QCOMPARE(m_w->CurrentIndex, 1);
    QCOMPARE(m_w->NextIndex, 8);
    m_w->cmdNext->click();
    QCOMPARE(m_w->CurrentIndex, 0);
    QCOMPARE(m_w->NextIndex, 1);
    // Double-click chooses the next row; nothing else changes.
    m_w->lstPlayList->clearSelection();
    m_w->lstPlayList->Row(1)->setSelected(true);
    QCOMPARE(StatusText(m_w.get()), QStringLiteral("Seleccionado") + m_clip6[1]);
    m_w->NextIndex = 0;
    m_w->lstPlayListDblClick();
    QCOMPARE(m_w->NextIndex, 1);
    QCOMPARE(m_w->CurrentIndex, 0);
}

void TstPlayout::mediaKeyRunsNext() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        TAVORIA_SKIP_WITHOUT_SESSION("the media keys are read from the X server");
    AddRow(m_w.get(), m_clip6[0]);
    AddRow(m_w.get(), m_clip6[1]);
    QList<int> started;
    const int before = m_w->NextIndex;
    QVERIFY(Run(QStringLiteral("xdotool"), {"keydown", "XF86AudioNext"}));
    QTRY_VERIFY_WITH_TIMEOUT(m_w->NextIndex != before || m_w->CurrentIndex != 0, 5000);
    QVERIFY(Run(QStringLiteral("xdotool"), {"keyup", "XF86AudioNext"}));
    QTest::qWait(300);
    // Released: no more Next.
    const int current = m_w->CurrentIndex, next = m_w->NextIndex;
    QTest::qWait(500);
    QCOMPARE(m_w->CurrentIndex, current);
    QCOMPARE(m_w->NextIndex, next);
    Q_UNUSED(started);
}

void TstPlayout::resolutionMenuAndVolumes() {
    m_w->N1080p1->trigger();
    QCOMPARE(m_w->vlcPlayer->size(), QSize(1920, 1080));
    QCOMPARE(StatusText(m_w.get()), QStringLiteral("N1080p1"));
    m_w->N1080p1->trigger(); // unchecks it
    QCOMPARE(m_w->vlcPlayer->size(), QSize(426, 240));
    QVERIFY(m_w->N240p1->isChecked());
    QCOMPARE(StatusText(m_w.get()), QStringLiteral("N1080p1"));

    // Volumes reach libVLC once the player exists.
    AddRow(m_w.get(), m_clip10);
    int playing = 0;
    connect(m_w->vlcPlayer, &TVlcPlayer::OnMediaPlayerPlaying, this, [&] { ++playing; });
    m_w->cmdNext->click();
    QTRY_COMPARE_WITH_TIMEOUT(playing, 1, 10000);
    libvlc_media_player_t* mp = m_w->vlcPlayer->GetPlayerHandle();
    m_w->volPrincipal->setValue(30);
    QTRY_COMPARE(VlcAudioGetVolume(mp), 70);
    m_w->volPisador->setValue(75);
    QCOMPARE(VlcAudioGetVolume(mp), 70); // not ducking: nothing sent
    m_w->cmdPisador->click();            // ducking on
    QTRY_COMPARE(VlcAudioGetVolume(mp), 25);
    m_w->volPrincipal->setValue(1); // the master slider ends ducking
    QVERIFY(!m_w->cmdPisador->isChecked());
    QTRY_COMPARE(VlcAudioGetVolume(mp), 99);
    m_w->volPrincipal->setValue(100); // the bottom is silence
    QTRY_COMPARE(VlcAudioGetVolume(mp), 0);
    m_w->volPrincipal->setValue(1);
    QTRY_COMPARE(VlcAudioGetVolume(mp), 99);
    // An error report while paused shows the message with the paused media.
    m_w->cmdPlayPause->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_w->vlcPlayer->IsPause(), 5000);
    m_w->vlcPlayerMediaPlayerEncounteredError();
    QVERIFY2(StatusText(m_w.get()).startsWith(QStringLiteral("Error al reproducir este archivo")) &&
                 StatusText(m_w.get()).endsWith(QStringLiteral("ten.mp4")),
             qPrintable(StatusText(m_w.get())));
    QVERIFY(m_w->vlcPlayer->IsPause());
    m_w->cmdPlayPause->click(); // resumes
    QTRY_VERIFY_WITH_TIMEOUT(m_w->vlcPlayer->IsPlay(), 5000);
    // Picture sliders only while the filter is on.
    QVERIFY(!m_w->volBass->isEnabled());
    m_w->chkVideoAdjustEnable->click();
    QVERIFY(m_w->volBass->isEnabled() && m_w->volMid->isEnabled() && m_w->volTreble->isEnabled());
    m_w->chkNDI->setChecked(true);
    QVERIFY(!m_w->chkVideoAdjustEnable->isEnabled());
    m_w->chkNDI->setChecked(false);
    QVERIFY(m_w->chkVideoAdjustEnable->isEnabled());
}

void TstPlayout::droppedFilesBecomeRows() {
    QTemporaryDir dir;
    QStringList paths;
    QList<QUrl> urls;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("folder.mp4")));
    urls << QUrl::fromLocalFile(dir.filePath(QStringLiteral("folder.mp4")));
    for (int i = 0; i < 500; ++i) {
        const QString p =
            dir.filePath(QStringLiteral("clip%1.%2").arg(i).arg(i % 7 == 3 ? "txt" : "mkv"));
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        if (!p.endsWith(QStringLiteral(".txt")))
            paths << p;
        urls << QUrl::fromLocalFile(p);
    }
    // Qt delivers drop events only during a real drag, so the test hands the drop's
    // data to the window's drop handling directly.
    QMimeData mime;
    mime.setUrls(urls);
    QVERIFY(m_w->HandleFileDrop(&mime));
    QCOMPARE(m_w->lstPlayList->RowCount(), int(paths.size()));
    for (int i = 0; i < paths.size(); ++i)
        QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(i), 2), paths[i]);
    // A later drop goes to the end too; web addresses in a drop add nothing.
    QMimeData more;
    more.setUrls({QUrl::fromLocalFile(m_clip3), QUrl(QStringLiteral("http://host/x.mp4"))});
    QVERIFY(m_w->HandleFileDrop(&more));
    QCOMPARE(TListView::SubItem(m_w->lstPlayList->Row(m_w->lstPlayList->RowCount() - 1), 2),
             m_clip3);
    QMimeData text;
    text.setText(QStringLiteral("not files"));
    QVERIFY(!m_w->HandleFileDrop(&text));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TstPlayout t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_playout.moc"
