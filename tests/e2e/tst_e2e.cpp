// The desk driven from outside, as the operator drives it: the real program runs as
// its own process in a fresh working folder; files come from another program by a
// real drag and drop (XDND), buttons, lists and edits get real pointer clicks and
// key presses (xdotool), the media key goes through the X server, and remote orders
// come over HTTP. What the desk does is read where an overlay tool, a listener or a
// script would read it: the text files, the two sound cards' monitors, the remote
// state, config.ini after the window is closed and the desk started again.
//
// Where the controls lie on the screen comes from the window's own layout: a copy of
// the form is built (never shown) in this process at the size the desk's window is
// given, and its widgets' places are read.
//
// TAVORIA_SCREENSHOTS=<folder> keeps pictures of the window in its main states
// there (scripts/screenshots refreshes those in docs/).
#include "../audio/MonitorRecorder.h"
#include "app/TfrmMain.h"
#include "audio/AudioLayer.h"
#include "media/TIniDocument.h"
#include "tests/SessionSkip.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimeEdit>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

using audiotest::MonitorRecorder;

namespace {

constexpr int kPort = 9417;
const QSize kWindowSize(1400, 780);
const QPoint kWindowAt(20, 20);
// Tones of the three clips (long enough to play through the whole session) and
// of the jingle.
constexpr int kClipTones[] = {440, 554, 659};
constexpr int kJingleTone = 1760;

const QString kSpeaker = QStringLiteral("Ana García");
const QString kTalk = QStringLiteral("Diseño de sonido en directo");
const QString kDetails = QStringLiteral("Sala 2 — mañana");
const QString kCountdownMessage = QStringLiteral("¡empezamos!");
const QString kMarqueeLines[] = {QStringLiteral("Bienvenidos a la sala"),
                                 QStringLiteral("sigan el directo")};

// The program and the helper (beside this test when run by hand).
QString DeskProgram() {
    const QString build = qEnvironmentVariable("TAVORIA_BUILD_DIR");
    return (build.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/../..")
                            : build) +
           QStringLiteral("/tavoria");
}

QString Helper() {
    const QString helper = qEnvironmentVariable("TAVORIA_E2E_HELPER");
    return helper.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/e2e_helper")
                            : helper;
}

bool Run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    return audiotest::Run(program, args, out);
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    return audiotest::WaitFor(condition, ms);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool MakeClip(const QString& path, int tone) {
    const QString wave = QStringLiteral("0.5*sin(%1*2*PI*t)").arg(tone);
    return Run(
        "ffmpeg",
        {"-v",        "error",   "-y",      "-nostdin",
         "-f",        "lavfi",   "-i",      "testsrc2=s=320x180:r=10:d=90",
         "-f",        "lavfi",   "-i",      QStringLiteral("aevalsrc=%1|%1:s=44100:d=90").arg(wave),
         "-c:v",      "libx264", "-preset", "ultrafast",
         "-pix_fmt",  "yuv420p", "-c:a",    "aac",
         "-shortest", path});
}

bool MakeSpeech(const QString& path, const QString& text) {
    const QString wav = path + QStringLiteral(".wav");
    const bool ok = Run("espeak-ng", {"-v", "es", "-w", wav, text}) &&
                    Run("ffmpeg", {"-v", "error", "-y", "-nostdin", "-i", wav, "-c:a", "libmp3lame",
                                   "-b:a", "64k", path});
    QFile::remove(wav);
    return ok;
}

// Places of the controls, relative to the window's top-left corner.
struct Layout {
    QPoint playlist, next, stop, clock;
    QPoint speaker, talk, details, add, firstCaption, captionsTab, notesTab, marquee, sendMarquee;
    QPoint countdownMinutes, countdownStart, countdownMessage;
    QPoint firstJingle, soundTab, controlsTab;
    int mainOut = -1, jingleCard = -1; // positions in "On Air" and "Efectos"
};

QPoint Centre(const QWidget* w, const QWidget* window) {
    return w->mapTo(window, w->rect().center());
}

QPoint RowPoint(QTreeWidget* list, QTreeWidgetItem* row, const QWidget* window) {
    const QRect r = list->visualItemRect(row);
    return list->viewport()->mapTo(window, QPoint(r.left() + 30, r.center().y()));
}

QPoint TabPoint(QTabWidget* tabs, QWidget* page, const QWidget* window) {
    QTabBar* bar = tabs->tabBar();
    return bar->mapTo(window, bar->tabRect(tabs->indexOf(page)).center());
}

// A short HTTP exchange with the desk; status 0 when there was no answer.
struct Answer {
    int status = 0;
    QJsonObject json;
};

Answer Http(const QByteArray& method, const QString& path, const QByteArray& body = {},
            const QList<std::pair<QByteArray, QByteArray>>& headers = {}) {
    static QNetworkAccessManager* net = new QNetworkAccessManager(qApp);
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(kPort).arg(path)));
    request.setTransferTimeout(10000);
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply* reply = net->sendCustomRequest(request, method, body);
    WaitFor([&] { return reply->isFinished(); }, 15000);
    Answer a;
    a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    a.json = QJsonDocument::fromJson(reply->readAll()).object();
    reply->abort();
    reply->deleteLater();
    return a;
}

QJsonObject State() {
    return Http("GET", QStringLiteral("/api/state")).json;
}

QString CurrentName() {
    return State().value("current").toObject().value("name").toString();
}

QStringList Names(const QJsonArray& rows, const char* key) {
    QStringList out;
    for (const QJsonValue& r : rows)
        out << r.toObject().value(QLatin1String(key)).toString();
    return out;
}

// The keys of a section of an INI text that hold a value, sorted ("key=value").
QStringList SectionLines(const QByteArray& ini, const QByteArray& section) {
    QStringList out;
    bool inside = false;
    for (const QByteArray& line : ini.split('\n')) {
        const QByteArray l = line.trimmed();
        if (l.startsWith('['))
            inside = l == "[" + section + "]";
        else if (inside && !l.isEmpty() && !l.endsWith('='))
            out << QString::fromUtf8(l);
    }
    out.sort();
    return out;
}

} // namespace

class TstEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void filesDroppedFromAnotherProgramJoinThePlaylist();
    void nextFromTheButtonTheMediaKeyAndTheRemote();
    void captionTypedAddedAndPublished();
    void countdownAndMarquee();
    void effectAndTalkingClockOnTheEffectsCard();
    void closeSavesAndARestartBringsItAllBack();

private:
    void MakeMedia();
    void AddKeysForTheTexts();
    void MeasureLayout();
    void WriteConfig();
    void StartDesk();
    void CloseDesk();
    // Pointer and keyboard, through the X server (window-relative points).
    void Xdo(const QStringList& args);
    void Click(QPoint at, int times = 1);
    void TypeInto(QPoint at, const QString& text);
    void Shot(const QString& name);
    // Fails when the desk shows a window besides its main one (an error box).
    void NoOtherWindow();
    QString Out(const char* name) const { return m_out + QLatin1Char('/') + QLatin1String(name); }

    QTemporaryDir m_media, m_work;
    QString m_out, m_effects, m_shots;
    QStringList m_clips;
    Layout m_at;
    QProcess m_desk;
    QString m_window;
    QByteArray m_firstSave;
    QString m_keymap; // the X keyboard map as it was, restored at the end
};

void TstEndToEnd::initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        TAVORIA_SKIP_WITHOUT_SESSION("the desk is driven through an X display");
    QByteArray sinks;
    QVERIFY2(Run("pactl", {"list", "short", "sinks"}, &sinks) && sinks.contains("main_out") &&
                 sinks.contains("jingle_out"),
             "the headless session's sinks main_out and jingle_out are missing");
    QVERIFY2(Run("xdotool", {"version"}), "xdotool is missing");
    m_shots = qEnvironmentVariable("TAVORIA_SCREENSHOTS");
    if (!m_shots.isEmpty())
        QVERIFY(QDir().mkpath(m_shots));
    MakeMedia();
    AddKeysForTheTexts();
    MeasureLayout();
    WriteConfig();
    StartDesk();
}

void TstEndToEnd::cleanupTestCase() {
    if (m_desk.state() != QProcess::NotRunning) {
        m_desk.kill();
        m_desk.waitForFinished(10000);
    }
    if (!m_keymap.isEmpty())
        Run("xkbcomp", {"-w", "0", m_keymap, qEnvironmentVariable("DISPLAY")});
}

void TstEndToEnd::AddKeysForTheTexts() {
    // The texts hold letters that the display's US keyboard lacks. xdotool would
    // bind each to a spare key just for the moment of its press, and a busy program
    // may read the key after it was unbound; so, as on a Spanish keyboard, they get
    // keys of their own before the desk starts.
    m_keymap = m_media.filePath(QStringLiteral("keymap.xkb"));
    const QString display = qEnvironmentVariable("DISPLAY");
    QVERIFY(Run("xkbcomp", {"-w", "0", display, m_keymap}));
    QString map = QString::fromUtf8(ReadAll(m_keymap));
    const qsizetype symbols = map.indexOf(QStringLiteral("xkb_symbols"));
    const qsizetype end = map.indexOf(QStringLiteral("\n};"), symbols);
    QVERIFY(symbols > 0 && end > symbols);
    // Key names of the keycodes section that nothing uses.
    QStringList spare;
    const QRegularExpression code(QStringLiteral("^\\s*<(I\\d+)>\\s*=\\s*\\d+;"),
                                  QRegularExpression::MultilineOption);
    for (auto it = code.globalMatch(map.left(map.indexOf(QStringLiteral("xkb_types"))));
         it.hasNext();) {
        const QString name = QLatin1Char('<') + it.next().captured(1) + QLatin1Char('>');
        if (!map.contains(QStringLiteral("key ") + name) &&
            !map.contains(QStringLiteral("= ") + name))
            spare << name;
    }
    const QStringList keysyms{"iacute", "ntilde", "emdash", "exclamdown"};
    QVERIFY2(spare.size() >= keysyms.size(), "no spare keys in the keyboard map");
    QString keys;
    for (int i = 0; i < keysyms.size(); ++i)
        keys += QStringLiteral("\n    key %1 { [ %2 ] };").arg(spare[i], keysyms[i]);
    const QString changed = m_media.filePath(QStringLiteral("keymap-es.xkb"));
    QFile f(changed);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QString(map).insert(end, keys).toUtf8());
    f.close();
    QVERIFY(Run("xkbcomp", {"-w", "0", changed, display}));
    QByteArray now;
    QVERIFY(Run("xkbcomp", {"-w", "0", display, "-"}, &now));
    for (const QString& keysym : keysyms)
        QVERIFY2(now.contains(keysym.toLatin1()), qPrintable(keysym));
}

void TstEndToEnd::MakeMedia() {
    for (int tone : kClipTones) {
        m_clips << m_media.filePath(QStringLiteral("clip%1.mp4").arg(tone));
        QVERIFY(MakeClip(m_clips.last(), tone));
    }
    m_effects = m_media.filePath(QStringLiteral("efectos"));
    for (const char* tab : {"Efx/Cortinas", "Efx/Jingles", "time/Voz"})
        QVERIFY(QDir().mkpath(m_effects + QLatin1Char('/') + QLatin1String(tab)));
    QVERIFY(audiotest::MakeTone(m_effects + QStringLiteral("/Efx/Jingles/Entrada.mp3"), 3,
                                kJingleTone));
    QVERIFY(audiotest::MakeTone(m_effects + QStringLiteral("/Efx/Cortinas/Golpe.mp3"), 3, 220));
    // The talking clock: one spoken hour and one spoken minute, under every name the
    // announcer may ask for. Between midnight and one o'clock the midnight file is
    // spoken alone, so it says enough by itself for the check below.
    const QString voice = m_effects + QStringLiteral("/time/Voz/");
    QVERIFY(MakeSpeech(voice + QStringLiteral("HRS00_O.mp3"),
                       QStringLiteral("Son las doce de la noche")));
    QVERIFY(MakeSpeech(voice + QStringLiteral("HRS00.mp3"), QStringLiteral("Son las")));
    QVERIFY(MakeSpeech(voice + QStringLiteral("MIN00.mp3"), QStringLiteral("y cinco minutos")));
    for (int h = 1; h < 24; ++h)
        QVERIFY(QFile::copy(voice + QStringLiteral("HRS00.mp3"),
                            voice + QStringLiteral("HRS%1.mp3").arg(h, 2, 10, QLatin1Char('0'))));
    for (int m = 1; m < 60; ++m)
        QVERIFY(QFile::copy(voice + QStringLiteral("MIN00.mp3"),
                            voice + QStringLiteral("MIN%1.mp3").arg(m, 2, 10, QLatin1Char('0'))));
    m_out = m_work.filePath(QStringLiteral("salida"));
    QVERIFY(QDir().mkpath(m_out));
}

void TstEndToEnd::MeasureLayout() {
    // The same form at the same size, with the same effects folder, in a folder of
    // its own; it is never put on the screen.
    QTemporaryDir probeDir;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(probeDir.path()));
    {
        QFile ini(probeDir.filePath(QStringLiteral("config.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[CONFIG]\r\nCunhasFolder=%1\r\nOutTextos=%2\r\nSoundCue=0\r\n"
                                 "EfectosIndex=1\r\n")
                      .arg(m_effects, probeDir.path())
                      .toUtf8());
    }
    {
        auto w = std::make_unique<TfrmMain>();
        w->setAttribute(Qt::WA_DontShowOnScreen);
        w->resize(kWindowSize);
        w->show();
        QTRY_COMPARE_WITH_TIMEOUT(w->size(), kWindowSize, 5000);
        const QWidget* win = w.get();
        m_at.playlist = Centre(w->lstPlayList->viewport(), win);
        m_at.next = Centre(w->cmdNext, win);
        m_at.stop = Centre(w->cmdStop, win);
        m_at.clock = Centre(w->lblHora, win);
        m_at.speaker = Centre(w->txtPonente, win);
        m_at.talk = Centre(w->txtPonencia, win);
        m_at.details = Centre(w->txtDetalles, win);
        m_at.add = Centre(w->cmdAdd, win);
        m_at.captionsTab = TabPoint(w->pgExplorerSubtitler, w->tabSubtitler, win);
        m_at.notesTab = TabPoint(w->pgExplorerSubtitler, w->tabNotas, win);
        m_at.soundTab = TabPoint(w->PageControl1, w->tabSonido, win);
        m_at.controlsTab = TabPoint(w->PageControl1, w->tabControles, win);
        m_at.sendMarquee = Centre(w->btnSendMarquesina, win);
        m_at.countdownMinutes =
            w->spnCronoRegresivo->mapTo(win, QPoint(8, w->spnCronoRegresivo->height() / 2));
        m_at.countdownStart = Centre(w->btnPlayConteo, win);
        m_at.countdownMessage = Centre(w->txtMensajeConteo, win);
        QTreeWidgetItem* caption = w->lstTextos->AddItem();
        w->lstTextos->AddSubItem(caption, QStringLiteral("x"));
        m_at.firstCaption = RowPoint(w->lstTextos, caption, win);
        QVERIFY2(w->lstJingles->RowCount() == 1, "the effects tab did not list its jingle");
        m_at.firstJingle = RowPoint(w->lstJingles, w->lstJingles->Row(0), win);
        w->pgExplorerSubtitler->setCurrentWidget(w->tabNotas);
        QTRY_VERIFY_WITH_TIMEOUT(w->txtMarquesina->isVisible(), 5000);
        m_at.marquee = Centre(w->txtMarquesina, win);
        m_at.mainOut = w->cboSoundMain->findText(QStringLiteral("MainOut"));
        m_at.jingleCard = w->cboSoundCue->findText(QStringLiteral("JingleCard"));
        QVERIFY2(m_at.mainOut > 0 && m_at.jingleCard > 1, "the sound cards are not listed");
    }
    BASS_Free();
    QVERIFY(QDir::setCurrent(before));
}

void TstEndToEnd::WriteConfig() {
    // As the desk writes it: UTF-8 with a byte order mark, CRLF line ends.
    QByteArray b = "\xEF\xBB\xBF[CONFIG]\r\n";
    b += "CunhasFolder=" + m_effects.toUtf8() + "\r\n";
    b += "OutTextos=" + m_out.toUtf8() + "\r\n";
    b += "SoundMain=" + QByteArray::number(m_at.mainOut) + "\r\n";
    b += "SoundCue=" + QByteArray::number(m_at.jingleCard) + "\r\n";
    // The volume bars have their loudest end at the top (position 1).
    b += "SoundHoras=0\r\nEfectosIndex=1\r\nVolPrincipal=1\r\nVolEfectos=1\r\n"
         "RepetirDesde=1\r\n\r\n";
    b +=
        "[REMOTO]\r\nEnabled=1\r\nPort=" + QByteArray::number(kPort) + "\r\nBind=127.0.0.1\r\n\r\n";
    QFile f(m_work.filePath(QStringLiteral("config.ini")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(b), b.size());
}

void TstEndToEnd::StartDesk() {
    m_desk.setWorkingDirectory(m_work.path());
    m_desk.setProcessChannelMode(QProcess::MergedChannels);
    m_desk.start(DeskProgram(), {});
    QVERIFY(m_desk.waitForStarted(10000));
    // The main window: the desk's top-level window at least as large as the form's
    // minimum size (a box the desk might show is smaller).
    const QString pid = QString::number(m_desk.processId());
    auto mainWindow = [&] {
        QByteArray ids;
        Run("xdotool", {"search", "--maxdepth", "1", "--onlyvisible", "--pid", pid}, &ids);
        for (const QByteArray& id : ids.trimmed().split('\n')) {
            QByteArray shell;
            if (id.isEmpty() ||
                !Run("xdotool", {"getwindowgeometry", "--shell", QString::fromLatin1(id)}, &shell))
                continue;
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("WIDTH=(\\d+)\nHEIGHT=(\\d+)"))
                    .match(QString::fromLatin1(shell));
            if (m.hasMatch() && m.captured(1).toInt() >= 1100 && m.captured(2).toInt() >= 600)
                return QString::fromLatin1(id);
        }
        return QString();
    };
    QVERIFY2(WaitFor(
                 [&] {
                     m_window = mainWindow();
                     return !m_window.isEmpty() || m_desk.state() == QProcess::NotRunning;
                 },
                 30000) &&
                 !m_window.isEmpty(),
             m_desk.readAll().constData());
    // The operator makes the window larger (there is no window manager here to do
    // it) and gives it the keyboard.
    Xdo({"windowsize", "--sync", m_window, QString::number(kWindowSize.width()),
         QString::number(kWindowSize.height())});
    Xdo({"windowmove", "--sync", m_window, QString::number(kWindowAt.x()),
         QString::number(kWindowAt.y())});
    Xdo({"windowfocus", "--sync", m_window});
    QByteArray geometry;
    QVERIFY(Run("xdotool", {"getwindowgeometry", "--shell", m_window}, &geometry));
    QVERIFY2(geometry.contains(QStringLiteral("X=%1\nY=%2\nWIDTH=%3\nHEIGHT=%4")
                                   .arg(kWindowAt.x())
                                   .arg(kWindowAt.y())
                                   .arg(kWindowSize.width())
                                   .arg(kWindowSize.height())
                                   .toLatin1()),
             geometry.constData());
    // Up once its remote control answers.
    QVERIFY2(WaitFor([] { return Http("GET", QStringLiteral("/api/state")).status == 200; }, 30000),
             m_desk.readAll().constData());
    QTest::qWait(500);
    NoOtherWindow();
}

void TstEndToEnd::CloseDesk() {
    // The close box: the window is asked to close, as a window manager asks it.
    QVERIFY(Run(Helper(), {"close", m_window}));
    QVERIFY2(m_desk.waitForFinished(30000), "the desk did not end after its window was closed");
    QCOMPARE(m_desk.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_desk.exitCode(), 0);
    // Qt's complaints about threads: an object made or used on the wrong thread (the
    // read-ahead of config.ini must not be taken for the program's main thread).
    const QByteArray output = m_desk.readAll();
    for (const char* complaint :
         {"not created in the main() thread", "in a different thread",
          "cannot be started from another thread", "can only be used with threads"})
        QVERIFY2(!output.contains(complaint), output.constData());
}

void TstEndToEnd::Xdo(const QStringList& args) {
    QVERIFY2(Run("xdotool", args), qPrintable(args.join(' ')));
}

void TstEndToEnd::Click(QPoint at, int times) {
    const QPoint p = kWindowAt + at;
    Xdo({"mousemove", "--sync", QString::number(p.x()), QString::number(p.y()), "sleep", "0.15",
         "click", "--repeat", QString::number(times), "--delay", "120", "1", "sleep", "0.2"});
}

void TstEndToEnd::TypeInto(QPoint at, const QString& text) {
    Click(at);
    Xdo({"key", "--delay", "50", "ctrl+a", "BackSpace"});
    Xdo({"type", "--delay", "40", text});
}

void TstEndToEnd::Shot(const QString& name) {
    if (m_shots.isEmpty())
        return;
    QTest::qWait(400); // the window repaints what just changed
    Run("import", {"-window", m_window, m_shots + QLatin1Char('/') + name});
}

void TstEndToEnd::NoOtherWindow() {
    // The desk's visible top-level windows with a name, less its main window.
    const auto others = [&] {
        QByteArray out;
        Run("xdotool",
            {"search", "--maxdepth", "1", "--onlyvisible", "--pid",
             QString::number(m_desk.processId()), "--name", "."},
            &out);
        QList<QByteArray> ids;
        for (const QByteArray& id : out.trimmed().split('\n'))
            if (!id.isEmpty() && id != m_window.toLatin1())
                ids << id;
        return ids;
    };
    // A box stays until the operator answers it; a window that is already going
    // away (a drag's picture, a tooltip) is gone within moments and is no box.
    QList<QByteArray> shown = others();
    if (!shown.isEmpty() && WaitFor([&] { return (shown = others()).isEmpty(); }, 2000))
        return;
    for (const QByteArray& id : std::as_const(shown)) {
        QByteArray name, geometry;
        Run("xdotool", {"getwindowname", QString::fromLatin1(id)}, &name);
        Run("xdotool", {"getwindowgeometry", QString::fromLatin1(id)}, &geometry);
        Shot(QStringLiteral("failure.png"));
        QFAIL(qPrintable(QStringLiteral("the desk shows another window: %1, %2 (%3)")
                             .arg(QString::fromUtf8(name.trimmed()),
                                  QString::fromUtf8(geometry.simplified()), m_desk.readAll())));
    }
}

void TstEndToEnd::filesDroppedFromAnotherProgramJoinThePlaylist() {
    // A drag source of another program, beside the desk, holding the three clips.
    QProcess source;
    const QPoint from(1430, 820);
    source.start(Helper(),
                 QStringList{"drag", QString::number(from.x()), QString::number(from.y())} +
                     m_clips);
    QVERIFY(source.waitForStarted(10000));
    QVERIFY(WaitFor(
        [&] {
            QByteArray out;
            Run("xdotool",
                {"search", "--onlyvisible", "--pid", QString::number(source.processId()), "--name",
                 "e2e drag source"},
                &out);
            return !out.trimmed().isEmpty();
        },
        20000));
    // Press on it, move in steps onto the playlist, let go.
    const QPoint start = from + QPoint(60, 40), end = kWindowAt + m_at.playlist;
    QStringList args{"mousemove",
                     "--sync",
                     QString::number(start.x()),
                     QString::number(start.y()),
                     "sleep",
                     "0.3",
                     "mousedown",
                     "1",
                     "sleep",
                     "0.3"};
    for (int i = 1; i <= 15; ++i) {
        const QPoint p = start + (end - start) * i / 15;
        args << "mousemove" << QString::number(p.x()) << QString::number(p.y()) << "sleep"
             << "0.06";
    }
    args << "sleep"
         << "0.4"
         << "mouseup"
         << "1";
    Xdo(args);
    const bool dropped = WaitFor(
        [] {
            return Http("GET", QStringLiteral("/api/playlist"))
                       .json.value("rows")
                       .toArray()
                       .size() == 3;
        },
        20000);
    source.terminate();
    source.waitForFinished(5000);
    QVERIFY2(dropped, source.readAll().constData());
    const QJsonArray rows =
        Http("GET", QStringLiteral("/api/playlist")).json.value("rows").toArray();
    QCOMPARE(Names(rows, "path"), m_clips);
    QCOMPARE(Names(rows, "name"), (QStringList{"clip440.mp4", "clip554.mp4", "clip659.mp4"}));
    QCOMPARE(State().value("state").toString(), QStringLiteral("stopped"));
    NoOtherWindow();
    Shot(QStringLiteral("desk-playlist.png"));
}

void TstEndToEnd::nextFromTheButtonTheMediaKeyAndTheRemote() {
    // Each way of asking for the next row plays the next row, heard on "On Air"
    // (MainOut) and nowhere else.
    struct Step {
        const char* how;
        std::function<void()> run;
    };
    Answer remote;
    const QList<Step> steps{
        {"the Next button", [&] { Click(m_at.next); }},
        {"the media key",
         [&] {
             Xdo({"key", "XF86AudioNext"});
         }},
        {"the remote control", [&] { remote = Http("POST", QStringLiteral("/api/next")); }},
    };
    for (int i = 0; i < steps.size(); ++i) {
        MonitorRecorder main(QStringLiteral("main_out")), jingle(QStringLiteral("jingle_out"));
        QVERIFY(main.Started() && jingle.Started());
        steps[i].run();
        if (i == 2) {
            QCOMPARE(remote.status, 200);
            QCOMPARE(remote.json.value("ok").toBool(), true);
        }
        const QString want = QFileInfo(m_clips[i]).fileName();
        QVERIFY2(WaitFor(
                     [&] {
                         main.Pump();
                         jingle.Pump();
                         const QJsonObject s = State();
                         return s.value("state").toString() == QStringLiteral("playing") &&
                                s.value("current").toObject().value("name").toString() == want &&
                                s.value("position_ms").toInteger() >= 500;
                     },
                     20000),
                 qPrintable(QStringLiteral("%1 did not play %2 (playing %3)")
                                .arg(QLatin1String(steps[i].how), want, CurrentName())));
        // From here on, until a second of sound has reached MainOut.
        main.Pump();
        const qsizetype mark = main.Data().size();
        jingle.Pump();
        const qsizetype jingleMark = jingle.Data().size();
        QVERIFY(WaitFor(
            [&] {
                main.Pump();
                jingle.Pump();
                return audiotest::ToneInLoudWindows(main.Data().mid(mark), kClipTones[i])
                           .loudSeconds >= 1.0;
            },
            20000));
        main.Finish();
        jingle.Finish();
        const QByteArray heard = main.Data().mid(mark), other = jingle.Data().mid(jingleMark);
        const audiotest::ToneHeard tone = audiotest::ToneInLoudWindows(heard, kClipTones[i]);
        const double leak = audiotest::ToneAmplitude(other, kClipTones[i]);
        qInfo("%s: %d Hz on MainOut %.3f over %.2f s of sound, on JingleCard %.5f (%.1f s "
              "recorded there)",
              steps[i].how, kClipTones[i], tone.amplitude, tone.loudSeconds, leak,
              other.size() / (4.0 * audiotest::kRecordRate));
        QVERIFY2(tone.amplitude > 0.3, qPrintable(QStringLiteral("%1: tone %2 Hz on MainOut at %3")
                                                      .arg(QLatin1String(steps[i].how))
                                                      .arg(kClipTones[i])
                                                      .arg(tone.amplitude)));
        if (i > 0) {
            const double before = audiotest::ToneAmplitude(heard, kClipTones[i - 1]);
            QVERIFY2(before < 0.02,
                     qPrintable(QStringLiteral("the previous clip still heard: %1").arg(before)));
        }
        QVERIFY2(leak < 0.002,
                 qPrintable(QStringLiteral("the playlist reached JingleCard: %1").arg(leak)));
        NoOtherWindow();
    }
    // An order from a web page of another site is refused and changes nothing.
    const Answer foreign =
        Http("POST", QStringLiteral("/api/next"), {}, {{"Origin", "http://example.org"}});
    QCOMPARE(foreign.status, 403);
    QTest::qWait(500);
    QCOMPARE(CurrentName(), QStringLiteral("clip659.mp4"));
}

void TstEndToEnd::captionTypedAddedAndPublished() {
    Click(m_at.captionsTab);
    TypeInto(m_at.speaker, kSpeaker);
    TypeInto(m_at.talk, kTalk);
    TypeInto(m_at.details, kDetails);
    Click(m_at.add);
    QVERIFY(WaitFor(
        [] {
            return Http("GET", QStringLiteral("/api/captions"))
                       .json.value("rows")
                       .toArray()
                       .size() == 1;
        },
        10000));
    const QJsonObject row = Http("GET", QStringLiteral("/api/captions"))
                                .json.value("rows")
                                .toArray()
                                .first()
                                .toObject();
    QCOMPARE(row.value("speaker").toString(), kSpeaker);
    QCOMPARE(row.value("talk").toString(), kTalk);
    QCOMPARE(row.value("details").toString(), kDetails);
    // A double-click on the row publishes it: the three files, exactly the texts.
    Click(m_at.firstCaption, 2);
    QVERIFY(WaitFor([&] { return QFileInfo::exists(Out("detalles.txt")); }, 10000));
    QCOMPARE(ReadAll(Out("ponente.txt")), kSpeaker.toUtf8());
    QCOMPARE(ReadAll(Out("ponencia.txt")), kTalk.toUtf8());
    QCOMPARE(ReadAll(Out("detalles.txt")), kDetails.toUtf8());
    QCOMPARE(State().value("caption").toObject().value("speaker").toString(), kSpeaker);
    NoOtherWindow();
}

void TstEndToEnd::countdownAndMarquee() {
    // The message at the end, then 00:03 typed into the picker, then "Iniciar".
    TypeInto(m_at.countdownMessage, kCountdownMessage);
    Click(m_at.countdownMinutes);
    // A step up and down selects the minutes, then the digits replace both fields.
    Xdo({"key", "--delay", "80", "Up", "Down", "0", "0", "0", "3"});
    QVERIFY(WaitFor(
        [] {
            return State().value("countdown").toObject().value("remaining").toString() ==
                   QStringLiteral("00:03");
        },
        5000));
    QFile::remove(Out("conteo.txt"));
    Click(m_at.countdownStart);
    QStringList seen;
    QVERIFY2(WaitFor(
                 [&] {
                     const QString now = QString::fromUtf8(ReadAll(Out("conteo.txt")));
                     if (!now.isEmpty() && (seen.isEmpty() || seen.last() != now))
                         seen << now;
                     return now == kCountdownMessage;
                 },
                 15000),
             qPrintable(seen.join(" | ")));
    Shot(QStringLiteral("desk-playing.png"));
    // The seconds shown downwards, then the message.
    const QString run = seen.join(QStringLiteral(" | "));
    const QRegularExpression second(QStringLiteral("^00:0[0-2]$"));
    for (int i = 0; i + 1 < seen.size(); ++i) {
        QVERIFY2(second.match(seen[i]).hasMatch(), qPrintable(run));
        if (i > 0)
            QVERIFY2(seen[i - 1] > seen[i], qPrintable(run));
    }
    QVERIFY2(seen.contains(QStringLiteral("00:01")), qPrintable(run));
    QCOMPARE(State().value("countdown").toObject().value("running").toBool(), false);

    // The marquee: two lines typed on the notes tab, sent with the top button.
    Click(m_at.notesTab);
    TypeInto(m_at.marquee, kMarqueeLines[0]);
    Xdo({"key", "Return"});
    Xdo({"type", "--delay", "40", kMarqueeLines[1]});
    Click(m_at.sendMarquee);
    const QByteArray marquee = (kMarqueeLines[0] + QLatin1Char('\t') + kMarqueeLines[1]).toUtf8();
    QVERIFY(WaitFor([&] { return ReadAll(Out("marquesina.txt")) == marquee; }, 10000));
    // Sending the marquee also keeps the playlist in config.ini.
    const TIniDocument ini(m_work.filePath(QStringLiteral("config.ini")));
    QCOMPARE(ini.ReadInteger(QStringLiteral("lstPlayList"), QStringLiteral("totalY"), 0), 3);
    NoOtherWindow();
    Click(m_at.captionsTab);
}

void TstEndToEnd::effectAndTalkingClockOnTheEffectsCard() {
    // A jingle double-clicked while the third clip plays: the jingle on JingleCard
    // only, the clip on MainOut only.
    QCOMPARE(CurrentName(), QStringLiteral("clip659.mp4"));
    {
        MonitorRecorder main(QStringLiteral("main_out")), jingle(QStringLiteral("jingle_out"));
        QVERIFY(main.Started() && jingle.Started());
        Click(m_at.firstJingle, 2);
        QJsonObject effect;
        QVERIFY(WaitFor(
            [&] {
                main.Pump();
                jingle.Pump();
                effect = State().value("effect").toObject();
                return effect.value("playing").toBool();
            },
            10000));
        QCOMPARE(effect.value("name").toString(), QStringLiteral("Entrada.mp3"));
        Click(m_at.soundTab);
        Shot(QStringLiteral("desk-effects.png"));
        audiotest::Record(2000, {&main, &jingle});
        main.Finish();
        jingle.Finish();
        const audiotest::ToneHeard jingleOnJingle =
            audiotest::ToneInLoudWindows(jingle.Data(), kJingleTone);
        const audiotest::ToneHeard clipOnMain =
            audiotest::ToneInLoudWindows(main.Data(), kClipTones[2]);
        const double clipOnJingle = audiotest::ToneAmplitude(jingle.Data(), kClipTones[2]);
        const double jingleOnMain = audiotest::ToneAmplitude(main.Data(), kJingleTone);
        const QString levels = QStringLiteral("JingleCard: jingle %1 over %2 s, clip %3; MainOut: "
                                              "clip %4 over %5 s, jingle %6")
                                   .arg(jingleOnJingle.amplitude)
                                   .arg(jingleOnJingle.loudSeconds)
                                   .arg(clipOnJingle)
                                   .arg(clipOnMain.amplitude)
                                   .arg(clipOnMain.loudSeconds)
                                   .arg(jingleOnMain);
        qInfo("%s", qPrintable(levels));
        QVERIFY2(jingleOnJingle.amplitude > 0.2 && jingleOnJingle.loudSeconds >= 0.5 &&
                     clipOnMain.amplitude > 0.3 && clipOnMain.loudSeconds >= 0.5,
                 qPrintable(levels));
        QVERIFY2(clipOnJingle < 0.002 && jingleOnMain < 0.002, qPrintable(levels));
        Click(m_at.controlsTab);
    }
    QVERIFY(WaitFor([] { return !State().value("effect").toObject().value("playing").toBool(); },
                    10000));

    // Stop, then a click on the clock: the time is spoken on JingleCard, nothing on
    // MainOut.
    Click(m_at.stop);
    QVERIFY(WaitFor([] { return State().value("state").toString() == QStringLiteral("stopped"); },
                    10000));
    QTest::qWait(500);
    {
        MonitorRecorder main(QStringLiteral("main_out")), jingle(QStringLiteral("jingle_out"));
        QVERIFY(main.Started() && jingle.Started());
        Click(m_at.clock);
        // Until half a second of speech has reached the effects card, then a little
        // more of both cards.
        double loud = 0;
        WaitFor(
            [&] {
                main.Pump();
                jingle.Pump();
                loud = audiotest::LoudSeconds(jingle.Windows(), 0.02);
                return loud >= 0.5;
            },
            20000);
        audiotest::Record(1000, {&main, &jingle});
        const auto spoken = jingle.Finish();
        const auto quiet = main.Finish();
        loud = audiotest::LoudSeconds(spoken, 0.02);
        qInfo("talking clock: %.2f s of speech on JingleCard (peak %.3f), MainOut peak %.5f", loud,
              audiotest::PeakRms(spoken), audiotest::PeakRms(quiet));
        QVERIFY2(loud >= 0.5, qPrintable(QStringLiteral("%1 s of speech on JingleCard").arg(loud)));
        QVERIFY2(audiotest::PeakRms(quiet) < 0.001,
                 qPrintable(QStringLiteral("MainOut peak %1").arg(audiotest::PeakRms(quiet))));
    }
    // The clock file holds the time of day.
    const QString clock = QString::fromUtf8(ReadAll(Out("hora.txt")));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(clock).hasMatch(),
             qPrintable(clock));
    const int off =
        std::abs(QTime::fromString(clock, QStringLiteral("HH:mm:ss")).secsTo(QTime::currentTime()));
    QVERIFY2(off <= 5 || off >= 86400 - 5, qPrintable(clock));
    NoOtherWindow();
}

void TstEndToEnd::closeSavesAndARestartBringsItAllBack() {
    const QString iniPath = m_work.filePath(QStringLiteral("config.ini"));
    CloseDesk();
    m_firstSave = ReadAll(iniPath);
    QVERIFY(m_firstSave.startsWith("\xEF\xBB\xBF["));
    QVERIFY2(!m_firstSave.contains(QByteArray("\n")) ||
                 m_firstSave.count('\n') == m_firstSave.count("\r\n"),
             "config.ini has a line end without CR");
    {
        const TIniDocument ini(iniPath);
        const QString pl = QStringLiteral("lstPlayList"), cfg = QStringLiteral("CONFIG");
        QCOMPARE(ini.ReadInteger(pl, QStringLiteral("totalY"), 0), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(
                ini.ReadString(pl, QStringLiteral("celda%1").arg(i) + QLatin1Char('2'), QString()),
                m_clips[i]);
        QCOMPARE(ini.ReadString(QStringLiteral("lstTextos"), QStringLiteral("celda00"), QString()),
                 kSpeaker);
        QCOMPARE(ini.ReadString(QStringLiteral("lstTextos"), QStringLiteral("celda01"), QString()),
                 kTalk);
        QCOMPARE(ini.ReadString(QStringLiteral("lstTextos"), QStringLiteral("celda02"), QString()),
                 kDetails);
        QCOMPARE(ini.ReadString(cfg, QStringLiteral("OutTextos"), QString()), m_out);
        QCOMPARE(ini.ReadString(cfg, QStringLiteral("CunhasFolder"), QString()), m_effects);
        QCOMPARE(ini.ReadInteger(cfg, QStringLiteral("SoundMain"), -1), m_at.mainOut);
        QCOMPARE(ini.ReadInteger(cfg, QStringLiteral("SoundCue"), -1), m_at.jingleCard);
        QCOMPARE(ini.ReadInteger(cfg, QStringLiteral("EfectosIndex"), -1), 1);
        QCOMPARE(ini.ReadInteger(QStringLiteral("REMOTO"), QStringLiteral("Enabled"), 0), 1);
        QCOMPARE(ini.ReadInteger(QStringLiteral("REMOTO"), QStringLiteral("Port"), 0), kPort);
    }

    // Started again in the same folder: the lists are back.
    StartDesk();
    QCOMPARE(
        Names(Http("GET", QStringLiteral("/api/playlist")).json.value("rows").toArray(), "path"),
        m_clips);
    const QJsonArray captions =
        Http("GET", QStringLiteral("/api/captions")).json.value("rows").toArray();
    QCOMPARE(captions.size(), 1);
    QCOMPARE(captions.first().toObject().value("talk").toString(), kTalk);
    const QJsonObject effects = Http("GET", QStringLiteral("/api/effects")).json;
    QCOMPARE(effects.value("tabs").toArray(), (QJsonArray{"Cortinas", "Jingles"}));
    QCOMPARE(effects.value("tab").toInt(), 2);
    QCOMPARE(effects.value("rows").toArray(), QJsonArray{"Entrada.mp3"});
    // The marquee editor holds the last marquee again: sending it unchanged writes
    // the same text anew.
    const QByteArray marquee = ReadAll(Out("marquesina.txt"));
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(Out("marquesina.txt")).constData(), &before), 0);
    Click(m_at.notesTab);
    Shot(QStringLiteral("desk-restarted.png"));
    Click(m_at.sendMarquee);
    QVERIFY(WaitFor(
        [&] {
            struct stat now {};
            return ::stat(QFile::encodeName(Out("marquesina.txt")).constData(), &now) == 0 &&
                   now.st_ino != before.st_ino;
        },
        10000));
    QCOMPARE(ReadAll(Out("marquesina.txt")), marquee);
    NoOtherWindow();

    // Closed again without changes: the same settings and rows. (A row read back
    // gains an empty sixth cell, "celdaN5=", so keys without a value are left out.)
    CloseDesk();
    const QByteArray second = ReadAll(iniPath);
    for (const char* section : {"CONFIG", "REMOTO", "lstPlayList", "lstTextos", "lstJingles"}) {
        const QStringList now = SectionLines(second, section),
                          then = SectionLines(m_firstSave, section);
        QVERIFY2(now == then,
                 qPrintable(QStringLiteral("[%1] first save:\n%2\nsecond save:\n%3")
                                .arg(QLatin1String(section), then.join('\n'), now.join('\n'))));
    }
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TstEndToEnd t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_e2e.moc"
