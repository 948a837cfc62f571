// The layer before and after its initialisation: nothing opens before BASS_Init,
// a second initialisation of a device fails but leaves it usable, and BASS_Free
// closes the current device.
#include "AudioTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

class TestAudioInit : public QObject {
    Q_OBJECT
private slots:
    void lifecycle();
};

void TestAudioInit::lifecycle() {
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.mp3");
    QVERIFY(audiotest::MakeTone(tone, 1.5));
    const QByteArray path = tone.toUtf8();

    // Before any initialisation: no stream and no probe.
    QCOMPARE(BASS_StreamCreateFile(0, path.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_PRESCAN),
             HSTREAM(0));

    BASS_DEVICEINFO info{};
    QVERIFY(BASS_GetDeviceInfo(0, &info));
    QCOMPARE(QByteArray(info.name), QByteArray("No sound"));
    QVERIFY(info.flags & BASS_DEVICE_ENABLED);
    QVERIFY(!(info.flags & BASS_DEVICE_INIT));
    QVERIFY(!BASS_GetDeviceInfo(100000, &info));
    QVERIFY(!BASS_Init(100000, 44100, 0, nullptr, nullptr));

    QVERIFY(BASS_Init(0, 44100, 0, nullptr, nullptr));
    QVERIFY(BASS_GetDeviceInfo(0, &info));
    QVERIFY(info.flags & BASS_DEVICE_INIT);
    // A second initialisation fails; the device stays initialised and usable.
    QVERIFY(!BASS_Init(0, 44100, 0, nullptr, nullptr));
    const HSTREAM probe =
        BASS_StreamCreateFile(0, path.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_PRESCAN);
    QVERIFY(probe != 0);
    QCOMPARE(BASS_ChannelGetDevice(probe), DWORD(0));
    const double seconds =
        BASS_ChannelBytes2Seconds(probe, BASS_ChannelGetLength(probe, BASS_POS_BYTE));
    QVERIFY2(qAbs(seconds - 1.5) < 0.001, qPrintable(QString::number(seconds)));
    QVERIFY(BASS_StreamFree(probe));

    // Tracker modules are not handled: the load fails cleanly.
    QCOMPARE(BASS_MusicLoad(0, path.constData(), 0, 0, BASS_UNICODE | BASS_MUSIC_PRESCAN, 0),
             HMUSIC(0));

    // Freeing the device frees its streams and stops new ones until the next init.
    const HSTREAM playing =
        BASS_StreamCreateFile(0, path.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    QVERIFY(BASS_ChannelPlay(playing, 0));
    QVERIFY(BASS_Free());
    QCOMPARE(BASS_ChannelIsActive(playing), BASS_ACTIVE_STOPPED);
    QCOMPARE(BASS_ChannelGetPosition(playing, BASS_POS_BYTE), QWORD(-1));
    QCOMPARE(BASS_StreamCreateFile(0, path.constData(), 0, 0, BASS_UNICODE), HSTREAM(0));
    QVERIFY(BASS_Init(0, 44100, 0, nullptr, nullptr));
    const HSTREAM again = BASS_StreamCreateFile(0, path.constData(), 0, 0, BASS_UNICODE);
    QVERIFY(again != 0);
    QVERIFY(again > playing); // handles are not reused
    QVERIFY(BASS_StreamFree(again));
}

QTEST_GUILESS_MAIN(TestAudioInit)
#include "tst_audio_init.moc"
