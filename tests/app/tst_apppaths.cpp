// Where the desk keeps its files: the default output folder when the program's folder
// cannot take them, and the working folder of a desk started from its desktop entry.
#include "app/AppPaths.h"
#include "app/TfrmMain.h"
#include "media/TIniDocument.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Whether a file can really be made in folder, to hold the probe against.
bool CanCreateFileIn(const QString& folder) {
    QFile f(folder + QStringLiteral("/.tavoria-probe"));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.close();
    f.remove();
    return true;
}

QString OutTextosIn(const QString& ini) {
    return TIniDocument(ini).ReadString(QStringLiteral("CONFIG"), QStringLiteral("OutTextos"),
                                        QStringLiteral("<absent>"));
}

// Environment variables set for one test and put back afterwards.
class TEnvironment {
public:
    void Set(const char* name, const QByteArray& value) {
        Keep(name);
        qputenv(name, value);
    }
    void Unset(const char* name) {
        Keep(name);
        qunsetenv(name);
    }
    ~TEnvironment() {
        for (const auto& [name, value] : m_saved) {
            if (value.isNull())
                qunsetenv(name.constData());
            else
                qputenv(name.constData(), value);
        }
    }

private:
    void Keep(const char* name) {
        for (const auto& kept : m_saved)
            if (kept.first == name)
                return;
        m_saved.append(
            {QByteArray(name), qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray()});
    }
    QList<QPair<QByteArray, QByteArray>> m_saved;
};

} // namespace

class TstAppPaths : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void defaultOutputFolder_data();
    void defaultOutputFolder();
    void writableProbeMatchesReality();
    void enterWorkingFolder();
    void installedWorkingFolderIsUnderTheDataFolder();
    void unwritableProgramFolderPutsOutputOnWorkingFolder_data();
    void unwritableProgramFolderPutsOutputOnWorkingFolder();
    void installedDeskKeepsEverythingInItsDataFolder();
    void installedProgramStartsInItsDataFolder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TstAppPaths::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TstAppPaths::cleanup() {
    SetFolderProbe({});
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TstAppPaths::defaultOutputFolder_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("working");
    QTest::addColumn<QStringList>("writable");
    QTest::addColumn<QString>("expected");
    const QString prog = QStringLiteral("/opt/tavoria/bin");
    const QString work = QStringLiteral("/home/ana/.local/share/tavoria");
    QTest::newRow("program folder writable") << prog << work << QStringList{prog, work} << prog;
    QTest::newRow("program folder read-only") << prog << work << QStringList{work} << work;
    QTest::newRow("nothing writable: still the working folder")
        << prog << work << QStringList{} << work;
    QTest::newRow("working folder with a trailing separator")
        << prog << work + QStringLiteral("/") << QStringList{} << work;
    QTest::newRow("root as working folder")
        << prog << QStringLiteral("/") << QStringList{} << QStringLiteral("/");
}

void TstAppPaths::defaultOutputFolder() {
    QFETCH(QString, program);
    QFETCH(QString, working);
    QFETCH(QStringList, writable);
    QFETCH(QString, expected);
    QStringList asked;
    const QString got = DefaultOutputFolder(program, working, [&](const QString& folder) {
        asked << folder;
        return writable.contains(folder);
    });
    QCOMPARE(got, Native(expected));
    // The program's folder is the one whose writability decides.
    QCOMPARE(asked, QStringList{program});
}

void TstAppPaths::writableProbeMatchesReality() {
    const QString base = m_dir->path();
    QVERIFY(QDir(base).mkpath(QStringLiteral("open")));
    QVERIFY(QDir(base).mkpath(QStringLiteral("locked")));
    QVERIFY(QFile::setPermissions(base + QStringLiteral("/locked"),
                                  QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    QFile plain(base + QStringLiteral("/plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();

    struct Case {
        QString folder;
        bool folderExists;
    };
    const QList<Case> cases{
        {base + QStringLiteral("/open"), true},
        // Root may write into it anyway; anyone else may not.
        {base + QStringLiteral("/locked"), true},
        {base + QStringLiteral("/missing"), false},
        {base + QStringLiteral("/plain.txt"), false},
    };
    for (const Case& c : cases) {
        const bool real = c.folderExists && CanCreateFileIn(c.folder);
        QVERIFY2(IsWritableFolder(c.folder) == real, qPrintable(c.folder));
    }
    QVERIFY(IsWritableFolder(base + QStringLiteral("/open")));
    QVERIFY(!IsWritableFolder(base + QStringLiteral("/missing")));
    QVERIFY(!IsWritableFolder(base + QStringLiteral("/plain.txt")));
    QVERIFY(!IsWritableFolder(QString()));
    QFile::setPermissions(base + QStringLiteral("/locked"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TstAppPaths::enterWorkingFolder() {
    const QString base = m_dir->path();
    QFile plain(base + QStringLiteral("/a-file"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();

    // A folder that is missing, with its parents, is made and entered.
    const QString nested = base + QStringLiteral("/data/deep/tavoria");
    QCOMPARE(EnterWorkingFolder(nested), QString());
    QCOMPARE(QDir::currentPath(), nested);
    // An existing one is entered as it is, its files kept.
    QFile kept(nested + QStringLiteral("/config.ini"));
    QVERIFY(kept.open(QIODevice::WriteOnly));
    kept.write("[CONFIG]\r\n");
    kept.close();
    QVERIFY(QDir::setCurrent(base));
    QCOMPARE(EnterWorkingFolder(nested), QString());
    QCOMPARE(QDir::currentPath(), nested);
    QCOMPARE(QFileInfo(QStringLiteral("config.ini")).size(), qint64(10));
    // A folder that cannot be made leaves the working folder where it was and says why.
    for (const QString& bad :
         {base + QStringLiteral("/a-file"), base + QStringLiteral("/a-file/tavoria")}) {
        const QString why = EnterWorkingFolder(bad);
        QVERIFY2(why.contains(Native(bad)), qPrintable(why));
        QVERIFY(why.startsWith(QStringLiteral("No se ")));
        QCOMPARE(QDir::currentPath(), nested);
    }
}

void TstAppPaths::installedWorkingFolderIsUnderTheDataFolder() {
    TEnvironment env;
    const QString base = m_dir->path();
    env.Set("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("/xdg")));
    QCOMPARE(InstalledWorkingFolder(), Native(base + QStringLiteral("/xdg/tavoria")));
    // Without XDG_DATA_HOME, the data folder in the home folder.
    env.Unset("XDG_DATA_HOME");
    env.Set("HOME", QFile::encodeName(base + QStringLiteral("/home")));
    QCOMPARE(InstalledWorkingFolder(), Native(base + QStringLiteral("/home/.local/share/tavoria")));
}

void TstAppPaths::unwritableProgramFolderPutsOutputOnWorkingFolder_data() {
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("chosenFolder");
    QTest::newRow("fresh config") << QByteArray() << false;
    QTest::newRow("settings without an output folder")
        << QByteArray("[CONFIG]\r\nVolPisador=50\r\n") << false;
    QTest::newRow("output folder chosen by the operator")
        << QByteArray("[CONFIG]\r\nOutTextos=@CHOSEN@\r\n") << true;
}

void TstAppPaths::unwritableProgramFolderPutsOutputOnWorkingFolder() {
    QFETCH(QByteArray, config);
    QFETCH(bool, chosenFolder);
    const QString work = m_dir->path();
    const QString chosen = work + QStringLiteral("/salida");
    QVERIFY(QDir(work).mkpath(QStringLiteral("salida")));
    if (!config.isEmpty()) {
        QFile f(QStringLiteral("config.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(config.replace("@CHOSEN@", chosen.toUtf8()));
    }
    // The program's folder is read-only; every other folder may be written.
    const QString program = QCoreApplication::applicationDirPath();
    SetFolderProbe([program](const QString& folder) {
        return folder != Native(program) && IsWritableFolder(folder);
    });
    const QString expected = Native(chosenFolder ? chosen : work);
    {
        TfrmMain w;
        w.show();
        QCOMPARE(w.txtCurrentSong->text(), expected);
        // The effects folder still defaults to the program's folder (it is only read).
        if (!chosenFolder)
            QCOMPARE(w.txtFolderCunas->text(), Native(program));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(expected + QStringLiteral("/hora.txt")).size() == 8,
                                 5000);
        QVERIFY(w.close());
    }
    QCOMPARE(OutTextosIn(QStringLiteral("config.ini")), expected);
}

void TstAppPaths::installedDeskKeepsEverythingInItsDataFolder() {
    TEnvironment env;
    const QString base = m_dir->path();
    env.Set("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("/xdg")));
    QVERIFY(QDir(base).mkpath(QStringLiteral("started-here")));
    QVERIFY(QDir::setCurrent(base + QStringLiteral("/started-here")));
    const QString data = base + QStringLiteral("/xdg/tavoria");

    // The program's folder (this test's build folder) is writable, yet an installed
    // desk leaves it alone.
    QVERIFY(IsWritableFolder(QCoreApplication::applicationDirPath()));
    QCOMPARE(PrepareInstalledDesk(), QString());
    QCOMPARE(QDir::currentPath(), data);
    {
        TfrmMain w;
        w.show();
        QCOMPARE(w.txtCurrentSong->text(), Native(data));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(data + QStringLiteral("/hora.txt")).size() == 8, 5000);
        QVERIFY(w.close());
    }
    QCOMPARE(OutTextosIn(data + QStringLiteral("/config.ini")), Native(data));
    QCOMPARE(QDir(base + QStringLiteral("/started-here"))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

void TstAppPaths::installedProgramStartsInItsDataFolder() {
    const QString base = m_dir->path();
    QVERIFY(QDir(base).mkpath(QStringLiteral("started-here")));
    const QString data = base + QStringLiteral("/xdg/tavoria");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), base + QStringLiteral("/xdg"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(base + QStringLiteral("/started-here"));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(qEnvironmentVariable("TAVORIA_BUILD_DIR") + QStringLiteral("/tavoria"),
            {QStringLiteral("--installed")});
    QVERIFY(p.waitForStarted(10000));
    // The clock file appears once the window is up.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(data + QStringLiteral("/hora.txt")).size() == 8, 30000);
    QCOMPARE(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY2(p.waitForFinished(20000), p.readAll().constData());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(OutTextosIn(data + QStringLiteral("/config.ini")), Native(data));
    QCOMPARE(QDir(base + QStringLiteral("/started-here"))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

QTEST_MAIN(TstAppPaths)
#include "tst_apppaths.moc"
