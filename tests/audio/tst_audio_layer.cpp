// The audio layer on its "no sound" device: timing, ends, freeing, handles,
// threads; and the exact length probe against ffmpeg's full decode.
#include "AudioTestSupport.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

struct EndRecord {
    std::atomic<int> calls{0};
    std::atomic<qint64> atMs{-1};
    std::atomic<DWORD> channel{0};
    std::atomic<bool> onCallerThread{false};
    std::atomic<bool> layerUsable{false};
    QElapsedTimer* clock = nullptr;
    std::thread::id caller;
};

void RecordEnd(HSYNC sync, DWORD channel, DWORD, void* user) {
    auto* r = static_cast<EndRecord*>(user);
    r->atMs = r->clock ? r->clock->elapsed() : -1;
    r->channel = channel;
    r->onCallerThread = std::this_thread::get_id() == r->caller;
    // The layer can be called from inside the callback.
    r->layerUsable = BASS_ChannelGetDevice(channel) == 0 && BASS_ChannelRemoveSync(channel, sync);
    // Counted last: the test reads the other fields as soon as it sees the call.
    r->calls++;
}

HSTREAM Open(const QString& path, DWORD flags = BASS_UNICODE) {
    const QByteArray p = path.toUtf8();
    return BASS_StreamCreateFile(0, p.constData(), 0, 0, flags);
}

double Seconds(HSTREAM h, QWORD bytes) {
    return BASS_ChannelBytes2Seconds(h, bytes);
}

} // namespace

class TestAudioLayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void endFiresOnceAndNotEarly();
    void positionFollowsRealTime();
    void autofreeFreesAtEnd();
    void freeIsHarmlessAndStopsTheEnd();
    void handlesAreNeverReused();
    void playDoesNotRestart();
    void callbacksCallBackIntoTheLayer();
    void exactLength_data();
    void exactLength();
    void filesThatAreNotAudio_data();
    void filesThatAreNotAudio();
    void fileDeletedWhilePlaying();
    void longFileKeepsMemoryBounded();

private:
    QTemporaryDir m_dir;
    QString m_oneSecond;
    QString m_threeSeconds;
};

void TestAudioLayer::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY(BASS_Init(0, 44100, 0, nullptr, nullptr));
    AudioLayer_SetHistoryEnabled(true);
    m_oneSecond = m_dir.filePath("one.mp3");
    m_threeSeconds = m_dir.filePath("three.mp3");
    QVERIFY(audiotest::MakeTone(m_oneSecond, 1.0));
    QVERIFY(audiotest::MakeTone(m_threeSeconds, 3.0));
}

void TestAudioLayer::endFiresOnceAndNotEarly() {
    EndRecord record;
    QElapsedTimer clock;
    record.clock = &clock;
    record.caller = std::this_thread::get_id();
    const HSTREAM h = Open(m_oneSecond);
    QVERIFY(h != 0);
    QVERIFY(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &RecordEnd, &record) != 0);
    clock.start();
    QVERIFY(BASS_ChannelPlay(h, 0));
    QCOMPARE(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    QVERIFY(audiotest::WaitFor([&] { return record.calls.load() > 0; }, 5000));
    QVERIFY2(record.atMs.load() >= 800, qPrintable(QString::number(record.atMs.load())));
    QVERIFY2(record.atMs.load() < 2500, qPrintable(QString::number(record.atMs.load())));
    QCOMPARE(record.channel.load(), h);
    QVERIFY(!record.onCallerThread.load());
    QVERIFY(record.layerUsable.load());
    QThread::msleep(300);
    QCOMPARE(record.calls.load(), 1);
    // Without AUTOFREE the stream stays, stopped, at its end.
    QCOMPARE(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
    QVERIFY(length != QWORD(-1));
    QCOMPARE(BASS_ChannelGetPosition(h, BASS_POS_BYTE), length);
    QVERIFY(qAbs(Seconds(h, length) - 1.0) < 0.01);
    QVERIFY(BASS_StreamFree(h));
}

void TestAudioLayer::positionFollowsRealTime() {
    const HSTREAM h = Open(m_threeSeconds);
    QVERIFY(h != 0);
    QCOMPARE(BASS_ChannelGetPosition(h, BASS_POS_BYTE), QWORD(0));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(BASS_ChannelPlay(h, 0));
    QThread::msleep(1000);
    const double played = Seconds(h, BASS_ChannelGetPosition(h, BASS_POS_BYTE));
    const double real = clock.elapsed() / 1000.0;
    // Never ahead of the clock; behind it only by what a loaded machine's scheduler
    // may hold the layer's thread back.
    QVERIFY2(played > real - 0.6 && played < real + 0.1,
             qPrintable(QStringLiteral("played %1 s in %2 s").arg(played).arg(real)));
    QVERIFY2(
        audiotest::WaitFor(
            [&] { return Seconds(h, BASS_ChannelGetPosition(h, BASS_POS_BYTE)) > played + 0.3; },
            3000),
        qPrintable(QString::number(Seconds(h, BASS_ChannelGetPosition(h, BASS_POS_BYTE)))));
    QVERIFY(BASS_StreamFree(h));
}

void TestAudioLayer::autofreeFreesAtEnd() {
    const int before = AudioLayer_LiveStreams();
    EndRecord record;
    const HSTREAM h = Open(m_oneSecond, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    QVERIFY(h != 0);
    QCOMPARE(AudioLayer_LiveStreams(), before + 1);
    QVERIFY(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &RecordEnd, &record));
    QVERIFY(BASS_ChannelPlay(h, 0));
    QVERIFY(audiotest::WaitFor([&] { return AudioLayer_LiveStreams() == before; }, 5000));
    QCOMPARE(record.calls.load(), 1);
    QVERIFY(AudioLayer_StreamPath(h).empty());
    QCOMPARE(BASS_ChannelGetLength(h, BASS_POS_BYTE), QWORD(-1));
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, h), 1);
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Freed, h), 1);
    QVERIFY(!BASS_StreamFree(h)); // already freed: harmless
}

void TestAudioLayer::freeIsHarmlessAndStopsTheEnd() {
    QVERIFY(!BASS_StreamFree(0));
    EndRecord record;
    const HSTREAM h = Open(m_oneSecond, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    QVERIFY(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &RecordEnd, &record));
    QVERIFY(BASS_ChannelPlay(h, 0));
    QThread::msleep(200);
    QVERIFY(BASS_StreamFree(h));
    QVERIFY(!BASS_StreamFree(h));
    // Every call on the freed handle fails without harm.
    QCOMPARE(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
    QCOMPARE(BASS_ChannelGetPosition(h, BASS_POS_BYTE), QWORD(-1));
    QVERIFY(BASS_ChannelBytes2Seconds(h, 4) < 0);
    QVERIFY(!BASS_ChannelPlay(h, 0));
    QVERIFY(!BASS_ChannelSetDevice(h, 0));
    QCOMPARE(BASS_ChannelGetDevice(h), DWORD(-1));
    QVERIFY(!BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.5f));
    QVERIFY(!BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &RecordEnd, &record));
    QVERIFY(!BASS_ChannelRemoveSync(h, 1));
    QThread::msleep(1300); // past the clip's end: no callback for a freed stream
    QCOMPARE(record.calls.load(), 0);
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, h), 0);
}

void TestAudioLayer::handlesAreNeverReused() {
    std::set<DWORD> seen;
    EndRecord record;
    for (int i = 0; i < 40; ++i) {
        const HSTREAM h = Open(m_oneSecond);
        QVERIFY(h != 0);
        QVERIFY(seen.insert(h).second);
        const HSYNC s = BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &RecordEnd, &record);
        QVERIFY(s != 0);
        QVERIFY(seen.insert(s).second);
        QVERIFY(BASS_StreamFree(h));
    }
}

void TestAudioLayer::playDoesNotRestart() {
    const HSTREAM h = Open(m_threeSeconds);
    QVERIFY(BASS_ChannelPlay(h, 0));
    QThread::msleep(500);
    const QWORD before = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    QVERIFY(BASS_ChannelPlay(h, 0));
    QVERIFY(BASS_ChannelGetPosition(h, BASS_POS_BYTE) >= before);
    QVERIFY(BASS_ChannelPlay(h, 1)); // restart goes back to the start
    QVERIFY(BASS_ChannelGetPosition(h, BASS_POS_BYTE) < before);
    QVERIFY(BASS_StreamFree(h));
}

namespace {

// Each end starts the next link of a chain from inside the callback.
struct Chain {
    QByteArray path;
    std::atomic<int> remaining{0};
    std::atomic<int> ends{0};
    std::atomic<bool> failed{false};
};

void ChainEnd(HSYNC sync, DWORD channel, DWORD, void* user) {
    auto* c = static_cast<Chain*>(user);
    c->ends++;
    BASS_ChannelRemoveSync(channel, sync);
    BASS_StreamFree(channel);
    if (c->remaining.fetch_sub(1) <= 1)
        return;
    const HSTREAM next =
        BASS_StreamCreateFile(0, c->path.constData(), 0, 0, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    if (!next || !BASS_ChannelSetSync(next, BASS_SYNC_END, 0, &ChainEnd, c) ||
        !BASS_ChannelPlay(next, 0))
        c->failed = true;
}

} // namespace

void TestAudioLayer::callbacksCallBackIntoTheLayer() {
    const QString shortClip = m_dir.filePath("short.mp3");
    QVERIFY(audiotest::MakeTone(shortClip, 0.15));
    const int before = AudioLayer_LiveStreams();
    constexpr int kChains = 6;
    constexpr int kLinks = 8;
    std::vector<std::unique_ptr<Chain>> chains;
    for (int i = 0; i < kChains; ++i) {
        auto c = std::make_unique<Chain>();
        c->path = shortClip.toUtf8();
        c->remaining = kLinks;
        const HSTREAM h = Open(shortClip, BASS_UNICODE | BASS_STREAM_AUTOFREE);
        QVERIFY(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &ChainEnd, c.get()));
        QVERIFY(BASS_ChannelPlay(h, 0));
        chains.push_back(std::move(c));
    }
    // Meanwhile another thread creates, plays and frees streams, and this one
    // queries whatever handles exist.
    std::atomic<bool> stop{false};
    std::atomic<int> churned{0};
    const QByteArray one = m_oneSecond.toUtf8();
    std::thread churn([&] {
        while (!stop) {
            const HSTREAM h = BASS_StreamCreateFile(0, one.constData(), 0, 0, BASS_UNICODE);
            BASS_ChannelPlay(h, 0);
            BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.3f);
            BASS_ChannelSetDevice(h, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            BASS_StreamFree(h);
            churned++;
        }
    });
    QElapsedTimer t;
    t.start();
    bool done = false;
    while (t.elapsed() < 15000 && !done) {
        for (DWORD h = 1; h < 400; h += 7) {
            BASS_ChannelIsActive(h);
            BASS_ChannelGetPosition(h, BASS_POS_BYTE);
            BASS_ChannelGetLength(h, BASS_POS_BYTE);
        }
        done = true;
        for (auto& c : chains)
            done = done && c->ends.load() == kLinks;
        QThread::msleep(2);
    }
    stop = true;
    churn.join();
    for (auto& c : chains) {
        QCOMPARE(c->ends.load(), kLinks);
        QVERIFY(!c->failed.load());
    }
    QVERIFY(churned.load() > 10);
    QVERIFY(audiotest::WaitFor([&] { return AudioLayer_LiveStreams() == before; }, 3000));
}

void TestAudioLayer::exactLength_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QStringList>("encoder");
    const QStringList lame{"-c:a", "libmp3lame"};
    QTest::newRow("CBR with Xing/LAME header")
        << 3.37 << 44100 << 2 << lame + QStringList{"-b:a", "128k"};
    QTest::newRow("VBR with Xing/LAME header")
        << 4.011 << 44100 << 2 << lame + QStringList{"-q:a", "4"};
    QTest::newRow("CBR without Xing")
        << 2.5 << 44100 << 2 << lame + QStringList{"-b:a", "192k", "-write_xing", "0"};
    QTest::newRow("VBR without Xing")
        << 3.2 << 44100 << 2 << lame + QStringList{"-q:a", "2", "-write_xing", "0"};
    QTest::newRow("mono 22050 Hz CBR") << 2.2 << 22050 << 1 << lame + QStringList{"-b:a", "64k"};
    QTest::newRow("48000 Hz VBR") << 3.9 << 48000 << 2 << lame + QStringList{"-q:a", "5"};
    QTest::newRow("ID3v2 tags") << 2.75 << 44100 << 2
                                << lame + QStringList{"-b:a",       "128k",           "-metadata",
                                                      "title=Cuña", "-id3v2_version", "3"};
    QTest::newRow("wav") << 1.234 << 44100 << 2 << QStringList{"-c:a", "pcm_s16le"};
    QTest::newRow("ogg vorbis") << 2.1 << 44100 << 2 << QStringList{"-c:a", "libvorbis"};
}

void TestAudioLayer::exactLength() {
    QFETCH(double, seconds);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QStringList, encoder);
    const bool wav = encoder.contains("pcm_s16le");
    const bool ogg = encoder.contains("libvorbis");
    const QString path = m_dir.filePath(QStringLiteral("m_probe%1.%2")
                                            .arg(QTest::currentDataTag())
                                            .arg(wav   ? "wav"
                                                 : ogg ? "ogg"
                                                       : "mp3")
                                            .replace(' ', '_')
                                            .replace('/', '_'));
    QVERIFY(audiotest::MakeTone(path, seconds, 523, rate, channels, encoder));
    qint64 samples = 0;
    int decodedRate = 0;
    QVERIFY(audiotest::DecodedSamples(path, samples, decodedRate));
    QCOMPARE(decodedRate, rate);

    const HSTREAM h = Open(path, BASS_UNICODE | BASS_STREAM_PRESCAN);
    QVERIFY(h != 0);
    const QWORD bytes = BASS_ChannelGetLength(h, BASS_POS_BYTE);
    QVERIFY(bytes != QWORD(-1));
    QCOMPARE(bytes % 4, QWORD(0));
    const qint64 frames = qint64(bytes / 4);
    const qint64 expected = (samples * 44100 + rate / 2) / rate;
    QVERIFY2(qAbs(frames - expected) <= (rate == 44100 ? 0 : 1),
             qPrintable(QStringLiteral("probe %1 frames, full decode %2 (%3 samples at %4 Hz)")
                            .arg(frames)
                            .arg(expected)
                            .arg(samples)
                            .arg(rate)));
    const double secs = BASS_ChannelBytes2Seconds(h, bytes);
    QVERIFY(qAbs(secs - double(samples) / rate) < 0.0001);
    QVERIFY(BASS_StreamFree(h));
}

void TestAudioLayer::filesThatAreNotAudio_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("text named .mp3") << "text";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("missing file") << "missing";
    QTest::newRow("folder") << "folder";
    QTest::newRow("picture named .mp3") << "picture";
    QTest::newRow("truncated mp3") << "truncated";
}

void TestAudioLayer::filesThatAreNotAudio() {
    QFETCH(QString, kind);
    QString path = m_dir.filePath("m_bad" + kind + ".mp3");
    if (kind == "text") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("Esto no es un fichero de sonido.\n").repeated(200));
    } else if (kind == "empty") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (kind == "folder") {
        QVERIFY(QDir(m_dir.path()).mkpath("bad_folder.mp3"));
    } else if (kind == "picture") {
        QVERIFY(audiotest::Run("ffmpeg",
                               {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=64x64:d=0.04",
                                "-frames:v", "1", "-f", "image2", "-c:v", "png", path}));
    } else if (kind == "truncated") {
        const QString full = m_dir.filePath("full.mp3");
        QVERIFY(audiotest::MakeTone(full, 4.0));
        QFile in(full);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const QByteArray bytes = in.readAll();
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes.left(bytes.size() / 2 + 17)); // cut inside a frame
    }
    for (DWORD flags : {BASS_UNICODE | BASS_STREAM_PRESCAN, BASS_UNICODE | BASS_STREAM_AUTOFREE}) {
        const HSTREAM h = Open(path, flags);
        if (kind != "truncated") {
            QCOMPARE(h, HSTREAM(0));
            continue;
        }
        // A truncated file gives what it holds: about half its length, and it plays
        // that and ends.
        QVERIFY(h != 0);
        if (flags & BASS_STREAM_PRESCAN) {
            const double secs =
                BASS_ChannelBytes2Seconds(h, BASS_ChannelGetLength(h, BASS_POS_BYTE));
            QVERIFY2(secs > 1.8 && secs < 2.2, qPrintable(QString::number(secs)));
            QVERIFY(BASS_StreamFree(h));
        } else {
            QVERIFY(BASS_ChannelPlay(h, 0));
            QVERIFY(audiotest::WaitFor([&] { return AudioLayer_StreamPath(h).empty(); }, 5000));
            QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, h), 1);
        }
    }
}

void TestAudioLayer::fileDeletedWhilePlaying() {
    const QString path = m_dir.filePath("deleted.mp3");
    QVERIFY(audiotest::MakeTone(path, 1.5));
    const HSTREAM h = Open(path, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    QVERIFY(BASS_ChannelPlay(h, 0));
    QVERIFY(QFile::remove(path));
    QVERIFY(audiotest::WaitFor([&] { return AudioLayer_StreamPath(h).empty(); }, 5000));
    QCOMPARE(audiotest::CountEvents(AudioLayerEvent::Ended, h), 1);
}

void TestAudioLayer::longFileKeepsMemoryBounded() {
    // A 40-minute file plays without its decoded audio being held: the layer
    // reads it a little at a time (resident size grows by far less than the
    // 420 MB that decoding it whole would take).
    const QString path = m_dir.filePath("long.mp3");
    QVERIFY(audiotest::Run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                      "sine=frequency=300:duration=2400:sample_rate=44100", "-ac",
                                      "2", "-c:a", "libmp3lame", "-b:a", "32k", path}));
    auto rssKb = [] {
        QFile f("/proc/self/statm");
        if (!f.open(QIODevice::ReadOnly))
            return -1LL;
        const QList<QByteArray> parts = f.readAll().split(' ');
        return parts.size() > 1 ? parts[1].toLongLong() * 4 : -1LL;
    };
    const long long before = rssKb();
    const HSTREAM h = Open(path, BASS_UNICODE | BASS_STREAM_AUTOFREE);
    QVERIFY(h != 0);
    QVERIFY(BASS_ChannelPlay(h, 0));
    QThread::msleep(1500);
    QCOMPARE(BASS_ChannelIsActive(h), BASS_ACTIVE_PLAYING);
    const long long after = rssKb();
    QVERIFY2(after - before < 30 * 1024, qPrintable(QString::number(after - before)));
    QVERIFY(BASS_StreamFree(h));
}

QTEST_GUILESS_MAIN(TestAudioLayer)
#include "tst_audio_layer.moc"
