// The rules behind the overlay files, without a window: the caption editor's
// length rule, column widths, caption links, the marquee's line breaks, the
// countdown, the clock's alignment to the wall-clock second and the reporting of
// repeated failures.
#include "app/CaptionLogic.h"
#include "app/Countdown.h"
#include "app/RepeatedFailure.h"
#include "app/SecondTimer.h"
#include "media/TavoriaError.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

class TstOverlayLogic : public QObject {
    Q_OBJECT
private slots:
    void captionLength_data();
    void captionLength();
    void columnWidths_data();
    void columnWidths();
    void links_data();
    void links();
    void badLinkMessage();
    void marquee_data();
    void marquee();
    void countdownFromFiveMinutes();
    void countdownEdges();
    void beatAimsJustPastEachSecond();
    void beatNeverSkipsOrRepeatsWithJitter();
    void beatFollowsClockSteps();
    void repeatedFailureReportedOnce();
    void secondTimersTickTogether();
    void countdownTimerWaitsHalfASecond();
};

void TstOverlayLogic::captionLength_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("one letter") << QStringLiteral("J") << false;
    QTest::newRow("two letters") << QStringLiteral("Jo") << true;
    QTest::newRow("two spaces") << QStringLiteral("  ") << true;
    QTest::newRow("one emoji (two UTF-16 units)") << QStringLiteral("\U0001F600") << false;
    QTest::newRow("two emoji") << QStringLiteral("\U0001F600\U0001F600") << true;
    QTest::newRow("emoji with skin tone") << QStringLiteral("\U0001F44D\U0001F3FD") << false;
    QTest::newRow("e with combining accent") << QStringLiteral("e\u0301") << false;
    QTest::newRow("accented pair") << QStringLiteral("e\u0301a") << true;
    QTest::newRow("Arabic, two letters") << QStringLiteral("\u0633\u0644") << true;
    QTest::newRow("Hebrew, one letter") << QStringLiteral("\u05D0") << false;
    QTest::newRow("CJK pair") << QStringLiteral("\u4E2D\u6587") << true;
}

void TstOverlayLogic::captionLength() {
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QCOMPARE(CaptionTextLongEnough(text), accepted);
}

void TstOverlayLogic::columnWidths_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<int>>("columns");
    QTest::newRow("300") << 300 << QList<int>{100, 100, 75};
    QTest::newRow("301 rounds down") << 301 << QList<int>{100, 100, 75};
    QTest::newRow("302 rounds up") << 302 << QList<int>{101, 101, 76};
    QTest::newRow("wide") << 1000 << QList<int>{333, 333, 308};
    QTest::newRow("narrow: details never negative") << 60 << QList<int>{20, 20, 0};
    QTest::newRow("zero") << 0 << QList<int>{0, 0, 0};
}

void TstOverlayLogic::columnWidths() {
    QFETCH(int, width);
    QFETCH(QList<int>, columns);
    const auto w = CaptionColumnWidths(width);
    QCOMPARE((QList<int>{w[0], w[1], w[2]}), columns);
}

void TstOverlayLogic::links_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("row"); // -2: a conversion error
    QTest::newRow("empty: none") << QString() << 5 << -1;
    QTest::newRow("first") << QStringLiteral("1") << 5 << 0;
    QTest::newRow("last") << QStringLiteral("5") << 5 << 4;
    QTest::newRow("beyond the list") << QStringLiteral("6") << 5 << -1;
    QTest::newRow("99") << QStringLiteral("99") << 5 << -1;
    QTest::newRow("0 (dropped with no caption selected)") << QStringLiteral("0") << 5 << -1;
    QTest::newRow("-3") << QStringLiteral("-3") << 5 << -1;
    QTest::newRow("no captions at all") << QStringLiteral("1") << 0 << -1;
    QTest::newRow("spaces around") << QStringLiteral(" 2 ") << 5 << 1;
    QTest::newRow("abc") << QStringLiteral("abc") << 5 << -2;
    QTest::newRow("decimal") << QStringLiteral("2.5") << 5 << -2;
    QTest::newRow("digits then letters") << QStringLiteral("3x") << 5 << -2;
    QTest::newRow("beyond a 32-bit integer") << QStringLiteral("99999999999") << 5 << -2;
    QTest::newRow("only spaces") << QStringLiteral("  ") << 5 << -2;
}

void TstOverlayLogic::links() {
    QFETCH(QString, link);
    QFETCH(int, rows);
    QFETCH(int, row);
    if (row == -2) {
        try {
            CaptionRowForLink(link, rows);
            QFAIL("a link that is not a whole number must raise a conversion error");
        } catch (const TavoriaError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("no es un número entero")),
                     qPrintable(e.message()));
            QVERIFY2(e.message().contains(link), qPrintable(e.message()));
        }
    } else {
        QCOMPARE(CaptionRowForLink(link, rows), row);
    }
}

void TstOverlayLogic::badLinkMessage() {
    // A huge cell from a hand-edited config.ini keeps the error box readable.
    const QString huge(100000, QLatin1Char('x'));
    try {
        CaptionRowForLink(huge, 3);
        QFAIL("expected a conversion error");
    } catch (const TavoriaError& e) {
        QVERIFY2(e.message().size() < 200, qPrintable(e.message().left(300)));
    }
}

void TstOverlayLogic::marquee_data() {
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("file");
    QTest::newRow("two lines, LF (what the editor gives)")
        << QStringLiteral("A\nB") << QStringLiteral("A\tB");
    QTest::newRow("CR LF is one break") << QStringLiteral("A\r\nB") << QStringLiteral("A\tB");
    QTest::newRow("lone CR") << QStringLiteral("A\rB") << QStringLiteral("A\tB");
    QTest::newRow("LF CR is two breaks") << QStringLiteral("A\n\rB") << QStringLiteral("A\t\tB");
    QTest::newRow("empty line kept") << QStringLiteral("A\r\n\r\nB") << QStringLiteral("A\t\tB");
    QTest::newRow("mixed") << QStringLiteral("1\r\n2\n3\r4") << QStringLiteral("1\t2\t3\t4");
    QTest::newRow("trailing break") << QStringLiteral("A\n") << QStringLiteral("A\t");
    QTest::newRow("Unicode separators")
        << QStringLiteral("A\u2028B\u2029C") << QStringLiteral("A\tB\tC");
    QTest::newRow("tab stays") << QStringLiteral("A\tB") << QStringLiteral("A\tB");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("emoji and right-to-left untouched")
        << QStringLiteral("\U0001F600 \u05E9\u05DC\u05D5\u05DD\n\u0645\u0631\u062D\u0628\u0627")
        << QStringLiteral("\U0001F600 \u05E9\u05DC\u05D5\u05DD\t\u0645\u0631\u062D\u0628\u0627");
}

void TstOverlayLogic::marquee() {
    QFETCH(QString, editor);
    QFETCH(QString, file);
    QCOMPARE(MarqueeFileText(editor), file);
}

void TstOverlayLogic::countdownFromFiveMinutes() {
    QTime picker(0, 5, 0);
    QVERIFY(CountdownCanStart(picker));
    QStringList texts;
    int ticks = 0;
    for (;;) {
        const CountdownStep step = CountdownTick(picker);
        picker = step.remaining;
        texts << step.text;
        ++ticks;
        if (step.finished || ticks > 400)
            break;
    }
    QCOMPARE(ticks, 300);
    QCOMPARE(texts.first(), QStringLiteral("04:59"));
    QCOMPARE(texts.at(59), QStringLiteral("04:00"));
    QCOMPARE(texts.last(), QStringLiteral("00:00"));
    QCOMPARE(texts.removeDuplicates(), 0);
    QCOMPARE(picker, QTime(0, 0, 0));
    QVERIFY(!CountdownCanStart(picker));
}

void TstOverlayLogic::countdownEdges() {
    // One second left: the next tick ends it.
    CountdownStep s = CountdownTick(QTime(0, 0, 1));
    QCOMPARE(s.text, QStringLiteral("00:00"));
    QVERIFY(s.finished);
    // Already at zero (the operator set the picker to 00:00 while it ran): it ends,
    // never wrapping round to 59:59.
    s = CountdownTick(QTime(0, 0, 0));
    QCOMPARE(s.remaining, QTime(0, 0, 0));
    QCOMPARE(s.text, QStringLiteral("00:00"));
    QVERIFY(s.finished);
    s = CountdownTick(QTime());
    QVERIFY(s.finished);
    // The longest the picker shows.
    s = CountdownTick(QTime(0, 59, 59));
    QCOMPARE(s.text, QStringLiteral("59:58"));
    QVERIFY(!s.finished);
    QVERIFY(!CountdownCanStart(QTime()));
    QVERIFY(CountdownCanStart(QTime(0, 0, 1)));
}

void TstOverlayLogic::beatAimsJustPastEachSecond() {
    const qint64 base = 1'700'000'000'000; // a second's start
    QCOMPARE(SecondSchedule::DelayToNextSecond(base), 1000 + SecondSchedule::kLeadMs);
    QCOMPARE(SecondSchedule::DelayToNextSecond(base + 420), 580 + SecondSchedule::kLeadMs);
    QCOMPARE(SecondSchedule::DelayToNextSecond(base + 999), 1 + SecondSchedule::kLeadMs);
    QCOMPARE(SecondSchedule::SecondOf(-1), qint64(-1));
    QCOMPARE(SecondSchedule::SecondOf(-1000), qint64(-1));
    QCOMPARE(SecondSchedule::SecondOf(-1001), qint64(-2));

    // Started 420 ms into a second (as a start-up might): from the first wake on,
    // each tick is the lead past its second, whatever the phase of the start.
    SecondSchedule beat;
    qint64 now = base + 420;
    SecondSchedule::Wake w = beat.OnWake(now);
    QVERIFY(w.tick);
    for (int i = 1; i <= 5; ++i) {
        now += w.delayMs;
        w = beat.OnWake(now);
        QVERIFY(w.tick);
        QCOMPARE(w.second, base / 1000 + i);
        QCOMPARE(now - w.second * 1000, qint64(SecondSchedule::kLeadMs));
    }
}

void TstOverlayLogic::beatNeverSkipsOrRepeatsWithJitter() {
    // Wakes come up to 900 ms early or late: still each second exactly once.
    QRandomGenerator random(12345);
    for (const int jitter : {0, 5, 100, 500, 900}) {
        SecondSchedule beat;
        qint64 now = 1'700'000'000'137;
        qint64 last = -1;
        int ticks = 0, wakes = 0;
        SecondSchedule::Wake w = beat.OnWake(now);
        last = w.second;
        while (ticks < 5000) {
            const qint64 target = now + w.delayMs;
            const int offset = jitter ? int(random.bounded(2 * jitter + 1)) - jitter : 0;
            // A timer never wakes before it was set.
            now = std::max(now + 1, target + offset);
            w = beat.OnWake(now);
            ++wakes;
            if (!w.tick) {
                QCOMPARE(w.second, last); // only an early wake is held back
                continue;
            }
            if (w.second != last + 1)
                QFAIL(qPrintable(QStringLiteral("jitter %1 ms: second %2 after %3")
                                     .arg(jitter)
                                     .arg(w.second)
                                     .arg(last)));
            // The tick is never later than the wake's own lateness past the second.
            QVERIFY(now - w.second * 1000 <= SecondSchedule::kLeadMs + std::max(jitter, 0));
            last = w.second;
            ++ticks;
        }
        if (jitter == 0)
            QCOMPARE(wakes, ticks); // no wasted wakes
    }
}

void TstOverlayLogic::beatFollowsClockSteps() {
    SecondSchedule beat;
    const qint64 base = 1'700'000'000'000;
    QVERIFY(beat.OnWake(base + 2).tick);
    // The machine was held up (or the clock set forward) by three seconds: the
    // tick is the current second, not the ones in between.
    SecondSchedule::Wake w = beat.OnWake(base + 3002);
    QVERIFY(w.tick);
    QCOMPARE(w.second, base / 1000 + 3);
    // The clock set back by an hour: it ticks the new time at once, not after an hour.
    w = beat.OnWake(base - 3600'000 + 500);
    QVERIFY(w.tick);
    QCOMPARE(w.second, base / 1000 - 3600);
    QCOMPARE(w.delayMs, 500 + SecondSchedule::kLeadMs);
    QVERIFY(!beat.OnWake(base - 3600'000 + 600).tick);
}

void TstOverlayLogic::repeatedFailureReportedOnce() {
    TRepeatedFailure gate;
    int reported = 0, runs = 0;
    bool fail = true;
    QString reason = QStringLiteral("No se pudo escribir \"hora.txt\": No such file");
    auto tick = [&] {
        try {
            gate.Run([&] {
                ++runs;
                if (fail)
                    throw TavoriaError(reason);
            });
        } catch (const TavoriaError&) {
            ++reported;
        }
    };
    for (int i = 0; i < 5; ++i)
        tick();
    QCOMPARE(runs, 5); // tried every time
    QCOMPARE(reported, 1);
    QVERIFY(gate.Failing());
    // Another failure is new: reported.
    reason = QStringLiteral("No se pudo escribir \"hora.txt\": Permission denied");
    tick();
    tick();
    QCOMPARE(reported, 2);
    // It works again, then fails again: reported again.
    fail = false;
    tick();
    QVERIFY(!gate.Failing());
    fail = true;
    tick();
    QCOMPARE(reported, 3);
    // A fresh start by the operator reports the same failure again.
    gate.Reset();
    tick();
    QCOMPARE(reported, 4);
    // Other exceptions are not this gate's to hold back.
    QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                             gate.Run([] { throw std::runtime_error("other"); }));
}

void TstOverlayLogic::secondTimersTickTogether() {
    // Real timers, the real clock. Only what a busy machine cannot break is asserted:
    // each tick is a new second, the two timers tick in the same beat in the order
    // they were made, and nothing ticks once both are stopped.
    TSecondTimerDriver beat;
    TSecondTimer first(&beat), second(&beat);
    QCOMPARE(first.interval(), 1000);
    QVERIFY(!beat.IsRunning());
    struct Tick {
        int timer;
        qint64 second;
    };
    QList<Tick> ticks;
    connect(&first, &TSecondTimer::timeout, this, [&] {
        ticks.push_back({1, SecondSchedule::SecondOf(beat.Now())});
    });
    connect(&second, &TSecondTimer::timeout, this, [&] {
        ticks.push_back({2, SecondSchedule::SecondOf(beat.Now())});
    });
    second.start();
    first.start();
    QVERIFY(first.isActive() && second.isActive() && beat.IsRunning());
    QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 6, 10000);
    first.stop();
    second.stop();
    QVERIFY(!beat.IsRunning());
    const int seen = int(ticks.size());
    QTest::qWait(1300);
    QCOMPARE(ticks.size(), seen);
    QVERIFY(seen % 2 == 0);
    for (int i = 0; i + 1 < seen; i += 2) {
        QCOMPARE(ticks[i].timer, 1);
        QCOMPARE(ticks[i + 1].timer, 2);
        QCOMPARE(ticks[i].second, ticks[i + 1].second);
        if (i >= 2)
            QVERIFY2(ticks[i].second > ticks[i - 2].second, "a second ticked twice");
    }
}

void TstOverlayLogic::countdownTimerWaitsHalfASecond() {
    // A clock of our own, set so that the start falls 100 ms before a second ends.
    TSecondTimerDriver beat;
    const qint64 shift = 900 - QDateTime::currentMSecsSinceEpoch() % 1000;
    beat.SetClock([shift] { return QDateTime::currentMSecsSinceEpoch() + shift; });
    TSecondTimer clock(&beat), countdown(&beat);
    countdown.SetMinimumFirstTick(500);
    qint64 clockFirst = -1, countdownFirst = -1;
    connect(&clock, &TSecondTimer::timeout, this, [&] {
        if (clockFirst < 0)
            clockFirst = beat.Now();
    });
    connect(&countdown, &TSecondTimer::timeout, this, [&] {
        if (countdownFirst < 0)
            countdownFirst = beat.Now();
    });
    const qint64 started = beat.Now();
    clock.start();
    countdown.start();
    QTRY_VERIFY_WITH_TIMEOUT(countdownFirst >= 0, 5000);
    // The clock ticks at the very next second; the countdown lets it go by, so its
    // first second is not cut to a few milliseconds.
    QVERIFY(clockFirst >= 0);
    QCOMPARE(SecondSchedule::SecondOf(clockFirst), SecondSchedule::SecondOf(started) + 1);
    QVERIFY2(countdownFirst - started >= 500,
             qPrintable(QString::number(countdownFirst - started)));
    QVERIFY(SecondSchedule::SecondOf(countdownFirst) >= SecondSchedule::SecondOf(started) + 2);
}

QTEST_GUILESS_MAIN(TstOverlayLogic)
#include "tst_overlaylogic.moc"
