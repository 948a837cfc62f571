// The loader's failures and version stages. The loader is process-wide, so
// each case runs as its own executable (TAVORIA_LOADER_CASE picks it).
#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

#include "player/VlcPlayerUnit.h"
#include "player/VlcUnit.h"

#ifndef TAVORIA_LOADER_CASE
#error "TAVORIA_LOADER_CASE must name the case"
#endif

class TestVlcLoader : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void loaderCase();

private:
    QTemporaryDir FDir;
    QString FClip;
};

void TestVlcLoader::initTestCase() {
    QVERIFY(FDir.isValid());
    FClip = FDir.filePath(QStringLiteral("clip.mp4"));
    QProcess ff;
    ff.start(QStringLiteral("ffmpeg"),
             {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
              "testsrc=size=160x120:rate=25:duration=3", "-pix_fmt", "yuv420p", FClip});
    QVERIFY(ff.waitForFinished(60000) && ff.exitCode() == 0);
}

void TestVlcLoader::loaderCase() {
    const QString which = QStringLiteral(TAVORIA_LOADER_CASE);
    QString vlcDir;
    if (which == QLatin1String("missing")) {
        vlcDir = FDir.filePath(QStringLiteral("empty"));
        QVERIFY(QDir().mkpath(vlcDir));
    } else if (which == QLatin1String("elf32")) {
        vlcDir = FDir.filePath(QStringLiteral("vlc32"));
        QVERIFY(QDir().mkpath(vlcDir));
        // An ELF header of a 32-bit x86 shared object.
        QByteArray elf(52, '\0');
        elf[0] = 0x7f;
        elf[1] = 'E';
        elf[2] = 'L';
        elf[3] = 'F';
        elf[4] = 1; // ELFCLASS32
        elf[5] = 1;
        elf[6] = 1;
        elf[16] = 3; // ET_DYN
        elf[18] = 3; // EM_386
        for (const char* name : {"libvlc.so.5", "libvlccore.so.9"}) {
            QFile f(vlcDir + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(elf);
        }
    } else {
        vlcDir = QStringLiteral(FAKE_VLC_DIR);
    }
    qputenv("TAVORIA_VLC_DIR", vlcDir.toLocal8Bit());
    SetLibVlcSystemFallback(false);
    QStringList boxes;
    SetLibVlcMessageHook(
        [&boxes](const QString& caption, const QString& text) { boxes << caption + "|" + text; });

    TVlcPlayer player;
    player.StartOptions() << QStringLiteral("--aout=adummy") << QStringLiteral("--vout=dummy");
    int errors = 0;
    connect(&player, &TVlcPlayer::OnMediaPlayerEncounteredError, this, [&] { ++errors; });

    if (which == QLatin1String("fake215")) {
        QVERIFY(player.GetPlayerHandle() != nullptr);
        QVERIFY2(LibVlcError().isEmpty(), qPrintable(LibVlcError()));
        QCOMPARE(LibVlcVersionBin(), TAVORIA_VLC_V(2, 1, 5));
        QCOMPARE(LibVlcFolder(), vlcDir);
        QCOMPARE(errors, 0);
        // The argument vector libvlc_new received, in order.
        void* lib = dlopen("libvlc.so.5", RTLD_LAZY | RTLD_NOLOAD);
        QVERIFY(lib != nullptr);
        auto args = reinterpret_cast<const char* (*)()>(dlsym(lib, "fake_libvlc_args"));
        QVERIFY(args != nullptr);
        QCOMPARE(QString::fromUtf8(args()).split('\n', Qt::SkipEmptyParts),
                 (QStringList{vlcDir, "--ignore-config", "--intf=dummy", "--quiet", "--aout=adummy",
                              "--vout=dummy", "--drop-late-frames", "--spu", "--osd",
                              "--no-video-on-top", "--no-overlay", "--no-snapshot-preview",
                              "--sub-filter=logo:marq", "--sub-source=marq"}));
        // The device enumeration came with libVLC 2.2.0: its stub tells so.
        const QStringList devices = player.GetAudioOutputDeviceEnum(true, QStringLiteral("|"));
        QVERIFY(devices.isEmpty());
        QCOMPARE(boxes,
                 QStringList{"libvlc|libvlc_audio_output_device_enum  require libvlc 2.2.0"});
        // Older entry points are the library's own: no box.
        player.SetAudioVolume(50);
        player.SetVideoAdjustEnable(true);
        player.Play(FClip);
        QCOMPARE(boxes.size(), 1);
        dlclose(lib);
        return;
    }

    const QString expected = which == QLatin1String("missing")
                                 ? QStringLiteral("Library not found libvlccore, GetLastError() = ")
                                 : QStringLiteral("Application is 64 bit, but  library is 32 bit");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        player.Play(FClip);
        QCOMPARE(errors, attempt); // raised once, synchronously, by each play
        QVERIFY2(player.LastError().startsWith(expected), qPrintable(player.LastError()));
        QVERIFY(!LibVlcLoaded());
        QCOMPARE(player.GetState(), vlcPlayer_NothingSpecial);
        QVERIFY(!player.IsPlay());
        QVERIFY(player.GetMediaMrl().isEmpty());
    }
    QTest::qWait(300);
    QCOMPARE(errors, 2); // nothing queued follows
    QVERIFY(player.GetAudioOutputDeviceEnum(true, QStringLiteral("|")).isEmpty());
    QCOMPARE(errors, 3); // the enumeration tried again too
    QVERIFY(boxes.isEmpty());
    player.SetAudioVolume(50);
    player.Pause();
    player.Resume();
    player.Stop();
    player.SetVideoPosInMs(10);

    // The load is tried again at the next need: with libVLC reachable, it plays.
    qputenv("TAVORIA_VLC_DIR", QByteArray());
    SetLibVlcSystemFallback(true);
    QCOMPARE(errors, 3);
    player.Play(FClip);
    QVERIFY2(LibVlcError().isEmpty(), qPrintable(LibVlcError()));
    QCOMPARE(errors, 3);
    QTRY_COMPARE_WITH_TIMEOUT(player.GetState(), vlcPlayer_Playing, 10000);
}

QTEST_MAIN(TestVlcLoader)
#include "tst_VlcLoader.moc"
