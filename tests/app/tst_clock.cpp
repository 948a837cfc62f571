// The clock, the countdown and the marquee in the real window: what each file
// holds, byte for byte, and when it changes.
#include "app/SaveThrottle.h"
#include "app/TfrmMain.h"
#include "media/TavoriaError.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimeEdit>
#include <QToolButton>
#include <QtTest>
#include <memory>

namespace {

const QByteArray kMissing("<missing>");

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : kMissing;
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Milliseconds since the epoch of a local time of day.
qint64 At(int h, int m, int s, int ms = 0) {
    return QDateTime(QDate(2024, 3, 9), QTime(h, m, s, ms)).toMSecsSinceEpoch();
}

void Tick(QObject* timer) {
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
}

} // namespace

class TstClock : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void clockFileHoldsTheTime();
    void clockAndCountdownShareTheBeat();
    void countdownFromFiveMinutes();
    void countdownStopResumeAndEdges();
    void countdownEndMessages_data();
    void countdownEndMessages();
    void failuresReportedOnceAndWritingResumes();
    void countdownEndsEvenWhenItsWriteFails();
    void marqueeTypedAndSent();
    void marqueeBytes_data();
    void marqueeBytes();
    void marqueeWriteFailureSavesNothing();
    void marqueeSentAgainSavesWithinASecond();
    void saveThrottleGathersRequests();

private:
    void Start();
    QString Out(const QString& name) const { return m_out + QLatin1Char('/') + name; }
    std::unique_ptr<TfrmMain> m_w;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_out;
    qint64 m_now = 0;
};

void TstClock::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_out = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(m_out));
    WriteAll(QStringLiteral("config.ini"), "[CONFIG]\nOutTextos=" + m_out.toUtf8() + "\n");
}

void TstClock::Start() {
    m_w = std::make_unique<TfrmMain>();
    // A clock of the test's own that stands still: the ticks are the test's.
    m_now = At(9, 5, 3, 250);
    m_w->ClockBeatSource()->SetClock([this] { return m_now; });
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w.get()));
}

void TstClock::cleanup() {
    m_w.reset();
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TstClock::clockFileHoldsTheTime() {
    Start();
    QVERIFY(m_w->tmrHora->isActive());
    QCOMPARE(m_w->tmrHora->interval(), 1000);
    struct Case {
        qint64 at;
        QByteArray text;
    };
    for (const Case& c : {Case{At(9, 5, 3, 250), "09:05:03"}, Case{At(23, 59, 59, 999), "23:59:59"},
                          Case{At(0, 0, 0), "00:00:00"}, Case{At(12, 30, 7, 1), "12:30:07"}}) {
        m_now = c.at;
        Tick(m_w->tmrHora);
        QCOMPARE(ReadAll(Out(QStringLiteral("hora.txt"))), c.text); // 8 bytes, nothing more
        QCOMPARE(m_w->lblHora->text(), QString::fromLatin1(c.text));
    }
    QCOMPARE(m_w->Errors().Count(), 0);
    QCOMPARE(QDir(m_out).entryList(QDir::Files | QDir::Hidden), QStringList{"hora.txt"});
}

void TstClock::clockAndCountdownShareTheBeat() {
    Start();
    // The real clock and the real timers: both files change in the same beat, the
    // clock first, each beat in a new second, and the clock file holds the second
    // it was written in.
    TClockBeat* beat = m_w->ClockBeatSource();
    beat->SetClock([] { return QDateTime::currentMSecsSinceEpoch(); });
    struct Seen {
        char file;
        qint64 at;
        QByteArray content;
    };
    QList<Seen> seen;
    connect(m_w->tmrHora, &TSecondTimer::timeout, this, [&] {
        seen.push_back({'h', beat->Now(), ReadAll(Out(QStringLiteral("hora.txt")))});
    });
    connect(m_w->tmrRegresivo, &TSecondTimer::timeout, this, [&] {
        seen.push_back({'c', beat->Now(), ReadAll(Out(QStringLiteral("conteo.txt")))});
    });
    m_w->btnPlayConteo->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        std::count_if(seen.begin(), seen.end(), [](const Seen& s) { return s.file == 'c'; }) >= 3,
        10000);
    m_w->btnPlayConteo->click();
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"));
    int countdownTicks = 0;
    qint64 lastSecond = -1;
    QByteArray lastConteo;
    for (int i = 0; i < seen.size(); ++i) {
        const Seen& s = seen[i];
        if (s.file == 'h') {
            const qint64 second = ClockBeat::SecondOf(s.at);
            QVERIFY2(second > lastSecond, "a second was written twice");
            lastSecond = second;
            QCOMPARE(s.content, ClockText(s.at).toLatin1());
            continue;
        }
        // The countdown comes right after the clock, in the same beat.
        QVERIFY(i > 0);
        QCOMPARE(seen[i - 1].file, 'h');
        QCOMPARE(ClockBeat::SecondOf(s.at), ClockBeat::SecondOf(seen[i - 1].at));
        ++countdownTicks;
        const QByteArray expected =
            QTime(0, 5, 0).addSecs(-countdownTicks).toString(QStringLiteral("mm:ss")).toLatin1();
        QCOMPARE(s.content, expected);
        lastConteo = s.content;
    }
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), lastConteo);
    QCOMPARE(m_w->Errors().Count(), 0);
}

void TstClock::countdownFromFiveMinutes() {
    Start();
    QCOMPARE(m_w->spnCronoRegresivo->time(), QTime(0, 5, 0));
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"));
    QVERIFY(!m_w->tmrRegresivo->isActive());
    QTest::mouseClick(m_w->btnPlayConteo, Qt::LeftButton);
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Detener"));
    QVERIFY(m_w->tmrRegresivo->isActive());
    // Starting writes nothing.
    QVERIFY(!QFile::exists(Out(QStringLiteral("conteo.txt"))));
    for (int k = 1; k < 300; ++k) {
        Tick(m_w->tmrRegresivo);
        const QTime left = QTime(0, 5, 0).addSecs(-k);
        QCOMPARE(m_w->spnCronoRegresivo->time(), left);
        QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))),
                 left.toString(QStringLiteral("mm:ss")).toLatin1());
        if (k == 1)
            QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("04:59"));
    }
    QVERIFY(m_w->tmrRegresivo->isActive());
    // The 300th tick reaches 00:00: the end message replaces it at once.
    Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("Bienvenidos al Programa..."));
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"));
    QVERIFY(!m_w->tmrRegresivo->isActive());
    QCOMPARE(m_w->spnCronoRegresivo->time(), QTime(0, 0, 0));
    QCOMPARE(m_w->Errors().Count(), 0);
    // "Iniciar" at 00:00 does nothing.
    m_w->btnPlayConteo->click();
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"));
    QVERIFY(!m_w->tmrRegresivo->isActive());
}

void TstClock::countdownStopResumeAndEdges() {
    Start();
    m_w->spnCronoRegresivo->setTime(QTime(0, 0, 10));
    m_w->btnPlayConteo->click();
    for (int i = 0; i < 3; ++i)
        Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("00:07"));
    // "Detener" midway: the last value stays, the picker keeps the remaining time.
    m_w->btnPlayConteo->click();
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"));
    QVERIFY(!m_w->tmrRegresivo->isActive());
    QCOMPARE(m_w->spnCronoRegresivo->time(), QTime(0, 0, 7));
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("00:07"));
    // "Iniciar" resumes from there.
    m_w->btnPlayConteo->click();
    Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("00:06"));
    // The operator changes the time while it runs: the next tick counts from it.
    m_w->spnCronoRegresivo->setTime(QTime(0, 12, 0));
    Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("11:59"));
    // ... or sets it to 00:00: the countdown ends, it does not wrap to 59:59.
    m_w->spnCronoRegresivo->setTime(QTime(0, 0, 0));
    Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("Bienvenidos al Programa..."));
    QCOMPARE(m_w->spnCronoRegresivo->time(), QTime(0, 0, 0));
    QVERIFY(!m_w->tmrRegresivo->isActive());
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"));
    // The picker shows minutes and seconds only.
    QCOMPARE(m_w->spnCronoRegresivo->displayFormat(), QStringLiteral("mm:ss"));
}

void TstClock::countdownEndMessages_data() {
    QTest::addColumn<QString>("message");
    QTest::newRow("empty gives a 0-byte file") << QString();
    QTest::newRow("accents and emoji") << QStringLiteral("¡Comenzamos! \U0001F3AC");
    QTest::newRow("right to left") << QStringLiteral("\u05D1\u05E8\u05D5\u05DB\u05D9\u05DD");
    QTest::newRow("100,000 characters") << QString(100000, QChar(0x00F1));
}

void TstClock::countdownEndMessages() {
    QFETCH(QString, message);
    Start();
    m_w->txtMensajeConteo->setText(message);
    QCOMPARE(m_w->txtMensajeConteo->text(), message);
    m_w->spnCronoRegresivo->setTime(QTime(0, 0, 2));
    m_w->btnPlayConteo->click();
    Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("00:01"));
    Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), message.toUtf8());
}

void TstClock::failuresReportedOnceAndWritingResumes() {
    // The output folder is missing at start-up.
    QVERIFY(QDir(m_out).removeRecursively());
    Start();
    ErrorReporter& errors = m_w->Errors();
    for (int s = 0; s < 5; ++s) {
        m_now = At(10, 0, s);
        Tick(m_w->tmrHora);
        // The label goes on even though the file cannot be written.
        QCOMPARE(m_w->lblHora->text(), QStringLiteral("10:00:0%1").arg(s));
    }
    // Reported once, in the one box.
    QCOMPARE(errors.Count(), 1);
    QVERIFY(errors.BoxVisible());
    QVERIFY(errors.LastText().contains(QStringLiteral("hora.txt")));
    // The folder is created: the next tick writes, with no new report.
    QVERIFY(QDir().mkpath(m_out));
    m_now = At(10, 0, 5);
    Tick(m_w->tmrHora);
    QCOMPARE(ReadAll(Out(QStringLiteral("hora.txt"))), QByteArray("10:00:05"));
    QCOMPARE(errors.Count(), 1);
    // The countdown, with the folder replaced by a file mid-run (not writable,
    // whoever runs the desk): one report, the time goes on counting.
    m_w->spnCronoRegresivo->setTime(QTime(0, 0, 30));
    m_w->btnPlayConteo->click();
    Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("00:29"));
    QVERIFY(QDir(m_out).removeRecursively());
    WriteAll(m_out, "not a folder");
    for (int i = 0; i < 4; ++i) {
        Tick(m_w->tmrHora);
        Tick(m_w->tmrRegresivo);
    }
    QCOMPARE(m_w->spnCronoRegresivo->time(), QTime(0, 0, 25));
    // One new report for the clock (it had written in between) and one for the
    // countdown.
    QCOMPARE(errors.Count(), 3);
    QVERIFY(errors.BoxVisible());
    // The folder is back: both files resume at the next tick.
    QVERIFY(QFile::remove(m_out));
    QVERIFY(QDir().mkpath(m_out));
    m_now = At(10, 0, 9);
    Tick(m_w->tmrHora);
    Tick(m_w->tmrRegresivo);
    QCOMPARE(ReadAll(Out(QStringLiteral("hora.txt"))), QByteArray("10:00:09"));
    QCOMPARE(ReadAll(Out(QStringLiteral("conteo.txt"))), QByteArray("00:24"));
    QCOMPARE(errors.Count(), 3);
    // Gone again: reported again, once.
    QVERIFY(QDir(m_out).removeRecursively());
    Tick(m_w->tmrHora);
    Tick(m_w->tmrHora);
    QCOMPARE(errors.Count(), 4);
    // Only one error box ever.
    int boxes = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->objectName() == QStringLiteral("ErrorBox"))
            ++boxes;
    QCOMPARE(boxes, 1);
}

void TstClock::countdownEndsEvenWhenItsWriteFails() {
    Start();
    m_w->spnCronoRegresivo->setTime(QTime(0, 0, 2));
    m_w->btnPlayConteo->click();
    Tick(m_w->tmrRegresivo);
    // "conteo.txt" cannot be replaced (a folder in its place) when 00:00 comes: the
    // error is shown, and the countdown still stops at zero instead of wrapping
    // round to 59:59 and running on.
    QVERIFY(QFile::remove(Out(QStringLiteral("conteo.txt"))));
    QVERIFY(QDir().mkpath(Out(QStringLiteral("conteo.txt"))));
    Tick(m_w->tmrRegresivo);
    QCOMPARE(m_w->Errors().Count(), 1);
    QVERIFY(m_w->Errors().LastText().contains(QStringLiteral("conteo.txt")));
    QVERIFY(!m_w->tmrRegresivo->isActive());
    QCOMPARE(m_w->btnPlayConteo->text(), QStringLiteral("Iniciar"));
    QCOMPARE(m_w->spnCronoRegresivo->time(), QTime(0, 0, 0));
}

void TstClock::marqueeTypedAndSent() {
    Start();
    // A caption on the caption page: not among the lists the marquee saves.
    QTreeWidgetItem* caption = m_w->lstTextos->AddItem();
    for (const char* s : {"Ana", "Charla", ""})
        m_w->lstTextos->AddSubItem(caption, QString::fromLatin1(s));
    m_w->pgExplorerSubtitler->setCurrentWidget(m_w->tabNotas);
    m_w->txtMarquesina->setFocus();
    QTest::keyClicks(m_w->txtMarquesina, QStringLiteral("A"));
    QTest::keyClick(m_w->txtMarquesina, Qt::Key_Return);
    QTest::keyClicks(m_w->txtMarquesina, QStringLiteral("B"));
    m_w->volPisador->setValue(42);
    const QByteArray configBefore = ReadAll(QStringLiteral("config.ini"));
    QTest::mouseClick(m_w->btnSendMarquesina, Qt::LeftButton);
    QCOMPARE(m_w->Errors().Count(), 0);
    QCOMPARE(ReadAll(Out(QStringLiteral("marquesina.txt"))), QByteArray("A\tB"));
    // Then the settings and the window's own lists are saved, the caption list is not.
    const QByteArray config = ReadAll(QStringLiteral("config.ini"));
    QVERIFY(config != configBefore);
    QVERIFY(config.contains("VolPisador=42"));
    for (const char* section : {"[CONFIG]", "[lstJingles]", "[lstPlayList]", "[lstEventos]"})
        QVERIFY2(config.contains(section), section);
    QVERIFY(!config.contains("[lstTextos]"));
    // At the next start the marquee comes back as one line.
    m_w.reset();
    Start();
    QCOMPARE(m_w->txtMarquesina->toPlainText(), QStringLiteral("A\tB"));
}

void TstClock::marqueeBytes_data() {
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("empty gives 0 bytes") << QString() << QByteArray();
    QTest::newRow("LF, as the editor gives") << QStringLiteral("A\nB") << QByteArray("A\tB");
    QTest::newRow("CR LF") << QStringLiteral("A\r\nB") << QByteArray("A\tB");
    QTest::newRow("lone CR") << QStringLiteral("A\rB") << QByteArray("A\tB");
    QTest::newRow("three lines, one empty")
        << QStringLiteral("Uno\n\nTres") << QByteArray("Uno\t\tTres");
    QTest::newRow("emoji and right to left")
        << QStringLiteral("\U0001F4E2 Hoy\n\u05E9\u05DC\u05D5\u05DD")
        << QByteArray("\xF0\x9F\x93\xA2 Hoy\t\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D");
    QTest::newRow("100,000 characters")
        << QString(100000, QLatin1Char('m')) << QByteArray(100000, 'm');
}

void TstClock::marqueeBytes() {
    QFETCH(QString, editor);
    QFETCH(QByteArray, file);
    Start();
    m_w->txtMarquesina->setPlainText(editor);
    m_w->btnSendMarquesina->click();
    QCOMPARE(m_w->Errors().Count(), 0);
    QCOMPARE(ReadAll(Out(QStringLiteral("marquesina.txt"))), file);
    // Read back at the next start: the same text, as one line.
    m_w.reset();
    Start();
    QCOMPARE(m_w->txtMarquesina->toPlainText(), QString::fromUtf8(file));
}

void TstClock::marqueeWriteFailureSavesNothing() {
    Start();
    m_w->txtMarquesina->setPlainText(QStringLiteral("Aviso"));
    m_w->volPisador->setValue(42);
    QVERIFY(QDir(m_out).removeRecursively());
    const QByteArray configBefore = ReadAll(QStringLiteral("config.ini"));
    m_w->btnSendMarquesina->click();
    QCOMPARE(m_w->Errors().Count(), 1);
    QVERIFY(m_w->Errors().LastText().contains(QStringLiteral("marquesina.txt")));
    QCOMPARE(ReadAll(QStringLiteral("config.ini")), configBefore);
}

// Sent again within a second, the marquee file changes at once and config.ini a
// moment later, holding what was set last; a window that goes away first still saves.
void TstClock::marqueeSentAgainSavesWithinASecond() {
    Start();
    m_w->volPisador->setValue(42);
    m_w->btnSendMarquesina->click();
    QVERIFY(ReadAll(QStringLiteral("config.ini")).contains("VolPisador=42"));

    m_w->volPisador->setValue(43);
    m_w->txtMarquesina->setPlainText(QStringLiteral("Dos"));
    m_w->btnSendMarquesina->click();
    QCOMPARE(ReadAll(Out(QStringLiteral("marquesina.txt"))), QByteArray("Dos"));
    QTRY_VERIFY_WITH_TIMEOUT(ReadAll(QStringLiteral("config.ini")).contains("VolPisador=43"), 5000);

    m_w->volPisador->setValue(44);
    m_w->btnSendMarquesina->click();
    m_w->volPisador->setValue(45);
    m_w->btnSendMarquesina->click();
    QCOMPARE(m_w->Errors().Count(), 0);
    m_w.reset();
    QVERIFY(ReadAll(QStringLiteral("config.ini")).contains("VolPisador=45"));
}

// The throttle itself: the first request saves at once, a burst within the interval
// costs one save at its end, a failing deferred save goes to the runner, Cancel drops
// a waiting save and Flush runs it.
void TstClock::saveThrottleGathersRequests() {
    int saves = 0;
    bool fail = false;
    QStringList caught;
    SaveThrottle t(
        300,
        [&] {
            ++saves;
            if (fail)
                throw TavoriaError(QStringLiteral("no se pudo"));
        },
        [&](const std::function<void()>& save) {
            try {
                save();
            } catch (const std::exception& e) {
                caught << ErrorText(e);
            }
        });
    t.Request();
    QCOMPARE(saves, 1);
    for (int i = 0; i < 50; ++i)
        t.Request();
    QCOMPARE(saves, 1);
    QVERIFY(t.Waiting());
    QTRY_COMPARE_WITH_TIMEOUT(saves, 2, 5000);
    QVERIFY(!t.Waiting());

    // Within the interval of that save: gathered again; Cancel drops it.
    t.Request();
    QVERIFY(t.Waiting());
    t.Cancel();
    QTest::qWait(600);
    QCOMPARE(saves, 2);

    // Once the interval has passed a request saves at once, and its error reaches
    // the caller.
    fail = true;
    QVERIFY_THROWS_EXCEPTION(TavoriaError, t.Request());
    QCOMPARE(saves, 3);
    t.Request();
    QVERIFY(t.Waiting());
    QTRY_COMPARE_WITH_TIMEOUT(caught.size(), 1, 5000);
    QCOMPARE(caught.first(), QStringLiteral("no se pudo"));
    fail = false;
    t.Request();
    QVERIFY(t.Waiting());
    t.Flush();
    QVERIFY(!t.Waiting());
    QCOMPARE(saves, 5);
}

QTEST_MAIN(TstClock)
#include "tst_clock.moc"
