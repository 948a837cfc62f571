// The player control against the real libVLC 3 of the system, inside the
// headless session (Xvfb display, PulseAudio with "MainOut" and "JingleCard").
#include "tests/SessionSkip.h"
#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>
#include <QUrl>
#include <QtTest>

#include <functional>
#include <memory>

#include "PlayerTestSupport.h"
#include "platform/VlcFolder.h"
#include "player/VlcUnit.h"

namespace {

const QStringList kQuiet{QStringLiteral("--aout=adummy"), QStringLiteral("--vout=dummy")};

std::unique_ptr<TVlcPlayer> NewPlayer(const QStringList& options = kQuiet) {
    auto p = std::make_unique<TVlcPlayer>();
    p->StartOptions() = options;
    return p;
}

// A tiny HTTP server on its own thread (the UI thread blocks inside Play):
// every request gets the same body.
class TOneFileServer : public QThread {
public:
    TOneFileServer(QByteArray body, QByteArray contentType)
        : FBody(std::move(body)), FType(std::move(contentType)) {}
    quint16 port = 0;
    QAtomicInt requests = 0;
    void run() override {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 0))
            return;
        port = server.serverPort();
        FReady.release();
        while (!isInterruptionRequested()) {
            if (!server.waitForNewConnection(100))
                continue;
            std::unique_ptr<QTcpSocket> s(server.nextPendingConnection());
            QByteArray request;
            while (!request.contains("\r\n\r\n") && s->waitForReadyRead(3000))
                request += s->readAll();
            requests.fetchAndAddOrdered(1);
            QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Type: " + FType +
                                "\r\nContent-Length: " + QByteArray::number(FBody.size()) +
                                "\r\nConnection: close\r\n\r\n";
            if (!request.startsWith("HEAD"))
                answer += FBody;
            s->write(answer);
            s->waitForBytesWritten(3000);
            s->disconnectFromHost();
            if (s->state() != QAbstractSocket::UnconnectedState)
                s->waitForDisconnected(1000);
        }
    }
    bool WaitReady() { return FReady.tryAcquire(1, 5000); }

private:
    QByteArray FBody;
    QByteArray FType;
    QSemaphore FReady;
};

quint16 FreeUdpPort() {
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}

quint16 ClosedTcpPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    const quint16 port = s.serverPort();
    s.close();
    return port;
}

} // namespace

class TestVlcPlayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void instanceArguments();
    void eventsOfLocalMedia_data();
    void eventsOfLocalMedia();
    void timeReportsQueueWhileInsidePlay();
    void seekReportsOnlyWhenNotPlaying();
    void stopOnPausedAndPlaying();
    void volumeRange();
    void audioDevices();
    void udpStreamOutput();
    void playlistSubItem();
    void failingMedia_data();
    void failingMedia();
    void destructionWhilePlaying();
    void mediaObjectsAreReleased();
    void videoFrameOnScreen();

private:
    QTemporaryDir FDir;
    QString FMp4, FMp3, FMkv, FLong, FRed;
};

void TestVlcPlayer::initTestCase() {
    QVERIFY(FDir.isValid());
    FMp4 = FDir.filePath(QStringLiteral("clip.mp4"));
    FMp3 = FDir.filePath(QStringLiteral("clip.mp3"));
    FMkv = FDir.filePath(QStringLiteral("clip.mkv"));
    FLong = FDir.filePath(QStringLiteral("long clip.mp4"));
    FRed = FDir.filePath(QStringLiteral("red.mp4"));
    QVERIFY(MakeVideoClip(FMp4, 3));
    QVERIFY(MakeAudioClip(FMp3, 3));
    QVERIFY(MakeVideoClip(FMkv, 3));
    QVERIFY(MakeVideoClip(FLong, 12));
    QVERIFY(MakeVideoClip(FRed, 8, 320, 240, QStringLiteral("red")));
}

void TestVlcPlayer::instanceArguments() {
    auto p = NewPlayer({QStringLiteral("--aout=adummy"), QStringLiteral("--AOUT=ADUMMY"), QString(),
                        QStringLiteral("--vout=dummy")});
    QVERIFY(p->GetPlayerHandle() != nullptr);
    QVERIFY2(LibVlcError().isEmpty(), qPrintable(LibVlcError()));
    QVERIFY(LibVlcVersionBin() >= TAVORIA_VLC_V(3, 0, 0));
    QCOMPARE(ParseLibVlcVersion(LibVlcVersionText()), LibVlcVersionBin());
    QCOMPARE(LibVlcFolder(), VlcInstallDir());
    const QStringList expected{LibVlcFolder(),
                               "--ignore-config",
                               "--intf=dummy",
                               "--quiet",
                               "--aout=adummy",
                               "--vout=dummy",
                               "--drop-late-frames",
                               "--spu",
                               "--osd",
                               "--no-video-on-top",
                               "--no-overlay",
                               "--no-snapshot-preview",
                               "--sub-filter=logo:marq",
                               "--sub-source=marq"};
    QCOMPARE(p->GetVLC()->Arguments(), expected);

    // The form's settings of this system.
    auto q = std::make_unique<TVlcPlayer>();
    q->StartOptions() << QStringLiteral("--vout=NDI") << QStringLiteral("--aout=NDI");
    q->SetVideoOnTop(true);
    q->SetUseOverlay(true);
    QCOMPARE(q->GetVLC()->Arguments().mid(4),
             (QStringList{"--vout=NDI", "--aout=NDI", "--drop-late-frames", "--spu", "--osd",
                          "--video-on-top", "--overlay", "--no-snapshot-preview",
                          "--sub-filter=logo:marq", "--sub-source=marq"}));
    // Options added after the instance exists do not reach it.
    q->StartOptions() << QStringLiteral("--late");
    QVERIFY(!q->GetVLC()->Arguments().contains(QStringLiteral("--late")));
}

void TestVlcPlayer::eventsOfLocalMedia_data() {
    QTest::addColumn<QString>("which");
    QTest::newRow("mp4") << "mp4";
    QTest::newRow("mp3") << "mp3";
    QTest::newRow("mkv") << "mkv";
}

void TestVlcPlayer::eventsOfLocalMedia() {
    QFETCH(QString, which);
    const QString file = which == "mp4" ? FMp4 : which == "mp3" ? FMp3 : FMkv;
    // The session's sound server keeps real time (libVLC's dummy output runs ahead).
    auto p = NewPlayer({QStringLiteral("--vout=dummy")});
    TEventRecorder rec(p.get());
    QElapsedTimer clock;
    clock.start();
    p->Play(file);
    QTRY_VERIFY_WITH_TIMEOUT(rec.Has("EndReached"), 20000);
    const qint64 endedAfter = clock.elapsed();
    QTest::qWait(300);

    const QStringList names = rec.Names();
    QVERIFY2(!rec.Has("Error"), qPrintable(names.join(',')));
    QCOMPARE(names.first(), QStringLiteral("MediaChanged"));
    QVERIFY(rec.lastMrl.startsWith(QStringLiteral("file://")));
    QCOMPARE(QUrl(rec.lastMrl).toLocalFile(), file);
    const int opening = rec.IndexOf("Opening");
    const int playing = rec.IndexOf("Playing");
    const int end = rec.IndexOf("EndReached");
    QVERIFY2(opening > 0 && opening < playing && playing < end, qPrintable(names.join(',')));
    QCOMPARE(rec.Count("Playing"), 1);
    QCOMPARE(rec.Count("EndReached"), 1);
    QCOMPARE(rec.IndexOf("Playing", end), -1); // nothing plays after the end

    const QVector<qint64> lengths = rec.Values("Length");
    QVERIFY(!lengths.isEmpty());
    QVERIFY2(qAbs(lengths.last() - 3000) < 300, qPrintable(QString::number(lengths.last())));
    const QVector<qint64> times = rec.Values("Time");
    QVERIFY(times.size() >= 4);
    for (int i = 1; i < times.size(); ++i)
        QVERIFY2(times[i] >= times[i - 1], "time reports out of order");
    QVERIFY2(times.last() > 1500, qPrintable(QString::number(times.last())));
    // The end is reported in real time, not before 80 % of the clip.
    QVERIFY2(endedAfter >= 2400, qPrintable(QString::number(endedAfter)));
    QCOMPARE(p->GetState(), vlcPlayer_Ended);
    QVERIFY(!p->IsPlay());
    QCOMPARE(QUrl(p->GetMediaMrl()).toLocalFile(), file);
}

void TestVlcPlayer::timeReportsQueueWhileInsidePlay() {
    auto p = NewPlayer();
    TEventRecorder rec(p.get());
    p->Play(FLong);
    QTRY_VERIFY_WITH_TIMEOUT(rec.Count("Time") >= 3, 10000);
    // Reports keep arriving while the UI thread is idle, in order.
    const int before = rec.Count("Time");
    QTRY_VERIFY_WITH_TIMEOUT(rec.Count("Time") >= before + 2, 10000);

    bool insidePlay = false;
    int deliveredInside = 0;
    connect(p.get(), &TVlcPlayer::OnMediaPlayerTimeChanged, this,
            [&](qint64) { deliveredInside += insidePlay ? 1 : 0; });
    rec.Clear();
    insidePlay = true;
    // A device id makes Play wait for playback of the new media.
    p->Play(FMp4, {}, {}, QStringLiteral("anything"), 1000);
    insidePlay = false;
    QCOMPARE(deliveredInside, 0);
    QVERIFY(rec.events.isEmpty()); // nothing ran inside Play
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(p.get());
    // What libVLC raised during Play follows now, in the order it was raised.
    const QStringList names = rec.Names();
    const int stopped = rec.IndexOf("Stopped");
    const int changed = rec.IndexOf("MediaChanged");
    const int playing = rec.IndexOf("Playing");
    QVERIFY2(stopped >= 0 && stopped < changed && changed < playing, qPrintable(names.join(',')));
    QTRY_VERIFY_WITH_TIMEOUT(rec.Has("EndReached"), 10000);
    const int firstNewTime = rec.IndexOf("Time", playing);
    QVERIFY(firstNewTime > playing);
    for (int i = firstNewTime + 1; i < rec.events.size(); ++i)
        if (rec.events[i].name == "Time")
            QVERIFY(rec.events[i].value >= rec.events[firstNewTime].value);
}

void TestVlcPlayer::seekReportsOnlyWhenNotPlaying() {
    auto p = NewPlayer();
    TEventRecorder rec(p.get());
    p->Play(FLong);
    QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 10000);
    p->Pause();
    QTRY_VERIFY_WITH_TIMEOUT(p->IsPause(), 5000);
    QTest::qWait(200);
    rec.Clear();
    p->SetVideoPosInMs(5000);
    QCOMPARE(rec.Values("Time"), QVector<qint64>{5000}); // synchronous, with the requested time

    p->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 5000);
    QTest::qWait(200);
    rec.Clear();
    p->SetVideoPosInMs(1000);
    QVERIFY(rec.events.isEmpty()); // nothing synchronous while playing
    QTRY_VERIFY_WITH_TIMEOUT(rec.Has("Time"), 5000);
    QVERIFY2(rec.Values("Time").last() < 4000, "the seek back took effect");
}

void TestVlcPlayer::stopOnPausedAndPlaying() {
    auto p = NewPlayer();
    p->Play(FLong);
    QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 10000);
    p->Pause();
    QTRY_VERIFY_WITH_TIMEOUT(p->IsPause(), 5000);
    QElapsedTimer t;
    t.start();
    p->Stop(1000);
    QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(p->GetState(), vlcPlayer_Paused);

    p->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 5000);
    t.restart();
    p->Stop(1000);
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(p->GetState() != vlcPlayer_Playing);
    QTRY_COMPARE_WITH_TIMEOUT(p->GetState(), vlcPlayer_Stopped, 3000);
    // Stop right after Play returns: still stops a playing media.
    for (int i = 0; i < 3; ++i) {
        p->Play(FLong);
        QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 10000);
        p->Stop(1000);
        QTRY_COMPARE_WITH_TIMEOUT(p->GetState(), vlcPlayer_Stopped, 3000);
    }
}

void TestVlcPlayer::volumeRange() {
    auto p = NewPlayer({QStringLiteral("--vout=dummy")}); // the session's sound server
    p->Play(FLong);
    QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 10000);
    libvlc_media_player_t* mp = p->GetPlayerHandle();
    p->SetAudioVolume(50);
    QTRY_COMPARE_WITH_TIMEOUT(VlcAudioGetVolume(mp), 50, 3000);
    p->SetAudioVolume(-1);
    p->SetAudioVolume(201);
    QTest::qWait(300);
    QCOMPARE(VlcAudioGetVolume(mp), 50);
    p->SetAudioVolume(0);
    QTRY_COMPARE_WITH_TIMEOUT(VlcAudioGetVolume(mp), 0, 3000);
    p->SetAudioVolume(200);
    QTRY_COMPARE_WITH_TIMEOUT(VlcAudioGetVolume(mp), 200, 3000);
}

void TestVlcPlayer::audioDevices() {
    auto p = NewPlayer({QStringLiteral("--vout=dummy")});
    const QStringList devices = p->GetAudioOutputDeviceEnum(true, QStringLiteral("|"));
    QVERIFY2(devices.contains(QStringLiteral("main_out|MainOut")), qPrintable(devices.join(';')));
    QVERIFY2(devices.contains(QStringLiteral("jingle_out|JingleCard")),
             qPrintable(devices.join(';')));
    const QStringList ids = p->GetAudioOutputDeviceEnum(false, QStringLiteral("|"));
    QVERIFY(ids.contains(QStringLiteral("jingle_out")));
    QVERIFY(!ids.join(QString()).contains(QLatin1Char('|')));

    // A selected device is remembered and applied again after playback starts;
    // its name arrives as a copied text.
    TEventRecorder rec(p.get());
    p->SetAudioOutputDevice(QStringLiteral("jingle_out"));
    QCOMPARE(p->LastAudioOutputDeviceId(), QStringLiteral("jingle_out"));
    QVERIFY(p->LastAudioOutput().isEmpty());
    p->Play(FLong);
    QVERIFY(p->IsPlay()); // Play waited for playback before applying the device
    QTRY_COMPARE_WITH_TIMEOUT(rec.lastAudioDevice, QStringLiteral("jingle_out"), 5000);
}

void TestVlcPlayer::udpStreamOutput() {
    const quint16 port = FreeUdpPort();
    QVERIFY(port != 0);
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                 QStringLiteral("format=format_name"), QStringLiteral("-of"),
                 QStringLiteral("default=nw=1:nk=1"),
                 QStringLiteral("udp://127.0.0.1:%1?timeout=20000000").arg(port)});
    QVERIFY(probe.waitForStarted());
    QTest::qWait(300);
    auto p = NewPlayer();
    p->Play(FLong, {QStringLiteral(":sout=#udp{dst=127.0.0.1:%1}").arg(port), QString(), " "});
    QTRY_VERIFY_WITH_TIMEOUT(probe.state() == QProcess::NotRunning, 25000);
    const QByteArray out = probe.readAllStandardOutput().trimmed();
    QVERIFY2(out == "mpegts", out.constData());
}

void TestVlcPlayer::playlistSubItem() {
    const QString clipUrl = QUrl::fromLocalFile(FMp4).toString(QUrl::FullyEncoded);
    TOneFileServer server("#EXTM3U\n#EXTINF:3,clip\n" + clipUrl.toUtf8() + "\n", "audio/x-mpegurl");
    server.start();
    QVERIFY(server.WaitReady());
    const QString listUrl = QStringLiteral("http://127.0.0.1:%1/list.m3u").arg(server.port);

    // Step by step: the playlist ends, its first sub-item names the media.
    {
        auto p = NewPlayer();
        p->PlayNormal(listUrl);
        QTRY_COMPARE_WITH_TIMEOUT(p->GetState(), vlcPlayer_Ended, 10000);
        QCOMPARE(p->GetMediaMrl(), clipUrl);
        TEventRecorder rec(p.get());
        p->PlayFirstSubItem();
        QTRY_VERIFY_WITH_TIMEOUT(rec.Has("Playing"), 10000);
        QCOMPARE(QUrl(rec.lastMrl).toLocalFile(), FMp4);
    }
    // The page route in one call: it waits for the list to end and plays its first item.
    {
        auto p = NewPlayer();
        TEventRecorder rec(p.get());
        p->PlayYoutube(listUrl);
        QCOMPARE(QUrl(p->GetMediaMrl()).toLocalFile(), FMp4);
        QTRY_VERIFY_WITH_TIMEOUT(rec.Has("EndReached") && p->GetState() == vlcPlayer_Ended, 10000);
        QVERIFY(!rec.Has("Error"));
    }
    QVERIFY(server.requests.loadAcquire() >= 2);
    server.requestInterruption();
    server.wait();
}

void TestVlcPlayer::failingMedia_data() {
    QTest::addColumn<QString>("mrl");
    QTest::addColumn<QString>("expectedMrl");
    QTest::addColumn<bool>("mustReportError");
    const QString junk = FDir.filePath(QStringLiteral("not media.mp4"));
    QFile f(junk);
    if (f.open(QIODevice::WriteOnly))
        f.write(QByteArray("this is only text, not a media file\n").repeated(200));
    f.close();
    // libVLC plays a text file as an empty stream to its end: no hang, an end report.
    QTest::newRow("not media") << junk << QUrl::fromLocalFile(junk).toString(QUrl::FullyEncoded)
                               << false;
    // A missing path is handed over as a path: libVLC reports the error at
    // once instead of probing access modules that never give up.
    QTest::newRow("nonexistent path") << "/nonexistent/folder/clip.mp4"
                                      << "file:///nonexistent/folder/clip.mp4" << true;
    // A NUL ends the text for libVLC: the clip before it must not play in its place.
    QTest::newRow("NUL inside a path")
        << FMp4 + QChar(0) + QStringLiteral("otro.mp4")
        << QUrl::fromLocalFile(FMp4 + QChar::ReplacementCharacter + QStringLiteral("otro.mp4"))
               .toString(QUrl::FullyEncoded)
        << true;
    const QString refused = QStringLiteral("http://127.0.0.1:%1/clip.mp4").arg(ClosedTcpPort());
    QTest::newRow("refused connection") << refused << refused << true;
}

void TestVlcPlayer::failingMedia() {
    QFETCH(QString, mrl);
    QFETCH(QString, expectedMrl);
    QFETCH(bool, mustReportError);
    auto p = NewPlayer();
    TEventRecorder rec(p.get());
    QElapsedTimer t;
    t.start();
    p->Play(mrl);
    QCOMPARE(p->GetMediaMrl(), expectedMrl);
    QTRY_VERIFY_WITH_TIMEOUT(rec.Has("Error") || rec.Has("EndReached"), 15000);
    QTest::qWait(300);
    if (mustReportError) {
        QVERIFY2(rec.Has("Error"), qPrintable(rec.Names().join(',')));
        QVERIFY(!rec.Has("Playing"));
    }
    QVERIFY(p->GetState() == vlcPlayer_Error || p->GetState() == vlcPlayer_Ended);
    // With a device to apply, Play waits for playback; a media that fails or ends
    // stops that wait at once instead of holding the caller for the whole time-out
    // (about 10 s).
    t.restart();
    p->Play(mrl, {}, {}, QStringLiteral("anything"), 1000);
    const qint64 waited = t.elapsed();
    QVERIFY2(waited < 2000, qPrintable(QString::number(waited)));
    QCOMPARE(p->LastAudioOutputDeviceId(), QStringLiteral("anything"));
    // The player stays usable, and stopping it does not hang.
    rec.Clear();
    p->Play(FMp4);
    QTRY_VERIFY_WITH_TIMEOUT(rec.Has("Playing"), 10000);
    t.restart();
    p.reset();
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
}

void TestVlcPlayer::destructionWhilePlaying() {
    int afterDestroy = 0;
    bool destroying = false;
    for (int round = 0; round < 4; ++round) {
        auto* p = new TVlcPlayer;
        p->StartOptions() = kQuiet;
        auto count = [&] { afterDestroy += destroying ? 1 : 0; };
        connect(p, &TVlcPlayer::OnMediaPlayerStopped, this, count);
        connect(p, &TVlcPlayer::OnMediaPlayerTimeChanged, this, count);
        connect(p, &TVlcPlayer::OnMediaPlayerPositionChanged, this, count);
        connect(p, &TVlcPlayer::OnMediaPlayerEndReached, this, count);
        connect(p, &TVlcPlayer::OnMediaPlayerMediaChanged, this, count);
        p->Play(FLong);
        if (round % 2 == 0)
            QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 10000);
        else
            QTest::qWait(30 * round); // events still pouring in
        destroying = true;
        delete p;
        QTest::qWait(400);
        destroying = false;
    }
    QCOMPARE(afterDestroy, 0);
}

// A long run plays thousands of media: each one is freed once the next replaced it,
// and the last one with the player. Reading the playing media (its address, the
// media-changed report) holds no reference of its own.
void TestVlcPlayer::mediaObjectsAreReleased() {
    auto p = NewPlayer();
    TEventRecorder rec(p.get()); // handles the media-changed reports (reads the media)
    std::atomic<int> freed{0};
    const int plays = 5;
    for (int i = 0; i < plays; ++i) {
        p->Play(FMp4);
        QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 10000);
        QCOMPARE(QUrl(p->GetMediaMrl()).toLocalFile(), FMp4);
        QVERIFY(WatchMediaFreed(p->GetPlayerHandle(), &freed));
        QTest::qWait(300); // the reports of this media reach the handlers
        QCOMPARE(freed.load(), i);
    }
    QCOMPARE(rec.Count("MediaChanged"), plays);
    p->Stop();
    QTest::qWait(300);
    QCOMPARE(freed.load(), plays - 1); // the stopped player still holds its media
    p.reset();
    QCOMPARE(freed.load(), plays);
}

void TestVlcPlayer::videoFrameOnScreen() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        TAVORIA_SKIP_WITHOUT_SESSION("needs the X display of the headless session");
    if (QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty())
        TAVORIA_SKIP_WITHOUT_SESSION("ImageMagick's import is missing");
    QWidget window;
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 255));
    window.setPalette(pal);
    window.setAutoFillBackground(true);
    window.setGeometry(40, 40, 420, 320);
    auto* p = new TVlcPlayer(&window);
    p->StartOptions() << QStringLiteral("--aout=adummy");
    if (qEnvironmentVariableIsSet("TAVORIA_VLC_VERBOSE"))
        p->StartOptions() << QStringLiteral("--verbose=2");
    p->move(10, 10);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    p->Play(FRed);
    QTRY_VERIFY_WITH_TIMEOUT(p->IsPlay(), 10000);

    auto grab = [] {
        QProcess imp;
        imp.start(QStringLiteral("import"),
                  {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
        imp.waitForFinished(20000);
        return QImage::fromData(imp.readAllStandardOutput(), "PNG");
    };
    auto isRed = [](QRgb c) { return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80; };
    auto isBlue = [](QRgb c) { return qBlue(c) > 180 && qRed(c) < 80 && qGreen(c) < 80; };
    // The first frame takes its time on a loaded machine or under a sanitizer: the
    // screen is taken again until the video shows or the limit passes.
    QImage shot;
    auto grabUntil = [&](const std::function<bool(const QImage&)>& shown) {
        QElapsedTimer waited;
        waited.start();
        do {
            shot = grab();
            if (!shot.isNull() && shown(shot))
                return;
            QTest::qWait(200);
        } while (waited.elapsed() < 30000);
    };

    const QPoint centre = p->mapToGlobal(QPoint(160, 120));
    const QPoint nearCorner = p->mapToGlobal(QPoint(300, 220));
    const QPoint beside = window.mapToGlobal(QPoint(400, 300));
    grabUntil(
        [&](const QImage& s) { return isRed(s.pixel(centre)) && isRed(s.pixel(nearCorner)); });
    QVERIFY(!shot.isNull());
    if (qEnvironmentVariableIsSet("TAVORIA_TEST_SHOT"))
        shot.save(qEnvironmentVariable("TAVORIA_TEST_SHOT"));
    QVERIFY2(isRed(shot.pixel(centre)), qPrintable(QColor(shot.pixel(centre)).name()));
    QVERIFY2(isRed(shot.pixel(nearCorner)), qPrintable(QColor(shot.pixel(nearCorner)).name()));
    QVERIFY2(isBlue(shot.pixel(beside)), qPrintable(QColor(shot.pixel(beside)).name()));

    // A click on the video reaches the control's own mouse events.
    if (!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        int clicks = 0;
        connect(p, &TVlcPlayer::Click, this, [&] { ++clicks; });
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("mousemove"), QString::number(centre.x()),
                           QString::number(centre.y()), QStringLiteral("click"),
                           QStringLiteral("1")});
        QTRY_COMPARE_WITH_TIMEOUT(clicks, 1, 3000);
    }

    // The resolution menu resizes the control; the video window follows it.
    p->resize(200, 150);
    QCOMPARE(p->PlayerWinCtrl()->geometry(), QRect(0, 0, 200, 150));
    const QPoint newCentre = p->mapToGlobal(QPoint(100, 75));
    grabUntil(
        [&](const QImage& s) { return isRed(s.pixel(newCentre)) && !isRed(s.pixel(nearCorner)); });
    QVERIFY2(isRed(shot.pixel(newCentre)), "video inside the new size");
    QVERIFY2(!isRed(shot.pixel(nearCorner)), qPrintable(QColor(shot.pixel(nearCorner)).name()));
}

QTEST_MAIN(TestVlcPlayer)
#include "tst_VlcPlayer.moc"
