// "Transmitir por UDP" seen by a real client: ffmpeg records the stream from before
// Next, and the recording must carry sound from its start, play after play.
#include "../player/PlayerTestSupport.h"
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "tests/DeskTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

namespace {

using desktest::AddRow;

// A port no one listens on now (a free TCP port number, reused for UDP).
int FreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    return probe.serverPort();
}

// The first time stamp of a video and of an audio packet in a recording; -1 when the
// recording has none of that kind.
struct FirstPackets {
    double video = -1;
    double audio = -1;
    int audioPackets = 0;
    QString text;
};

FirstPackets ReadFirstPackets(const QString& file) {
    FirstPackets result;
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries",
                                            "packet=codec_type,pts_time", "-of", "csv=p=0", file});
    if (!probe.waitForFinished(60000))
        return result;
    const QString out = QString::fromUtf8(probe.readAllStandardOutput());
    result.text = out.left(400) + QString::fromUtf8(probe.readAllStandardError());
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.trimmed().split(QLatin1Char(','));
        if (parts.size() < 2)
            continue;
        bool ok = false;
        const double pts = parts[1].toDouble(&ok);
        if (!ok)
            continue;
        if (parts[0] == QStringLiteral("video") && result.video < 0)
            result.video = pts;
        if (parts[0] == QStringLiteral("audio")) {
            ++result.audioPackets;
            if (result.audio < 0)
                result.audio = pts;
        }
    }
    return result;
}

} // namespace

class TstUdp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void streamCarriesSoundFromItsStart_data();
    void streamCarriesSoundFromItsStart();

private:
    std::unique_ptr<TfrmMain> m_w;
    std::unique_ptr<QTemporaryDir> m_work;
    QTemporaryDir m_media;
    QString m_clip;
};

void TstUdp::initTestCase() {
    QVERIFY(m_media.isValid());
    m_clip = m_media.filePath(QStringLiteral("twelve.mp4")); // H.264 video, AAC sound
    QVERIFY(MakeVideoClip(m_clip, 12));
}

void TstUdp::init() {
    QVERIFY(desktest::EnterNewWorkFolder(m_work));
    QVERIFY(desktest::OpenDesk(m_w, m_work->path()));
}

void TstUdp::cleanup() {
    desktest::CloseDesk(m_w, m_work);
}

void TstUdp::streamCarriesSoundFromItsStart_data() {
    QTest::addColumn<bool>("stopBetween");
    // The operator's usual flow: one target, each play started from a stopped desk.
    QTest::newRow("same target, stopped between plays") << true;
    // Next while the previous play still streams: the client listens on a target of
    // its own, so that it sees only the new play (which starts while the window
    // still has the stopped media's reports to handle).
    QTest::newRow("Next while playing, a new target each play") << false;
}

void TstUdp::streamCarriesSoundFromItsStart() {
    QFETCH(bool, stopBetween);
    // The default settings remember the main card, so every play also re-applies it.
    QVERIFY(!m_w->vlcPlayer->LastAudioOutputDeviceId().isEmpty());
    AddRow(m_w.get(), m_clip);
    m_w->txtRepeat->setValue(1);
    m_w->chkUdp->setChecked(true);
    int port = 0;
    for (int play = 0; play < 3; ++play) {
        if (play == 0 || !stopBetween) {
            port = FreePort();
            QVERIFY(port > 0);
            m_w->txtUdp->setText(QStringLiteral("127.0.0.1:%1").arg(port));
        }
        const QString file = m_work->filePath(QStringLiteral("rec%1.ts").arg(play));
        // The client listens before Next and records the first seconds as they come.
        QProcess client;
        client.start(QStringLiteral("ffmpeg"),
                     {"-hide_banner", "-loglevel", "error", "-y", "-i",
                      QStringLiteral("udp://127.0.0.1:%1?timeout=15000000").arg(port), "-map", "0",
                      "-c", "copy", "-t", "6", "-f", "mpegts", file});
        QVERIFY(client.waitForStarted());
        QTest::qWait(300);
        m_w->cmdNext->click();
        // The window keeps handling the player's reports while the client records.
        QTRY_VERIFY2_WITH_TIMEOUT(client.state() == QProcess::NotRunning,
                                  "the client got no stream", 40000);
        const FirstPackets first = ReadFirstPackets(file);
        const QString detail = QStringLiteral("play %1: first video %2 s, first audio %3 s, %4 "
                                              "audio packets; %5 %6")
                                   .arg(play)
                                   .arg(first.video)
                                   .arg(first.audio)
                                   .arg(first.audioPackets)
                                   .arg(QString::fromUtf8(client.readAllStandardError()))
                                   .arg(first.text);
        qInfo("%s", qPrintable(detail.left(100)));
        QVERIFY2(first.video >= 0, qPrintable(detail));
        QVERIFY2(first.audio >= 0, qPrintable(detail));
        QVERIFY2(std::abs(first.audio - first.video) <= 1.0, qPrintable(detail));
        // About 43 AAC packets a second: sound all through the 6 s, not only at the start.
        QVERIFY2(first.audioPackets >= 200, qPrintable(detail));
        if (stopBetween) {
            m_w->cmdStop->click();
            QTRY_VERIFY_WITH_TIMEOUT(m_w->vlcPlayer->GetState() == vlcPlayer_Stopped, 5000);
            QTest::qWait(500); // nothing of this play is still on its way
        }
    }
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavoria 3 (beta)"));
    TstUdp t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_udp.moc"
