#include "media/PlaylistFile.h"

#include "media/MediaFunctions.h"
#include "media/TIniDocument.h"
#include "media/TavoriaError.h"
#include "media/TextFile.h"
#include "media/TitleLookup.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <sys/stat.h>

namespace {

const QString kSection = QStringLiteral("playlist");
const QString kCount = QStringLiteral("NumberOfEntries");

// Entries handled per slice of the event loop, and how far the reading may run
// ahead of rows that wait for their titles.
constexpr int SliceMs = 20;
constexpr int ReadAhead = 64;

// A regular file (links followed) at path: one stat, without QFileInfo's set-up.
// No file name holds a NUL; stat would read the path only up to it.
bool IsFile(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && !path.contains(QChar(0)) &&
           stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Shows position on the bar, but not more often than a few times a second: every
// change of a visible bar repaints it at once.
class ProgressShown {
public:
    explicit ProgressShown(QProgressBar* bar) : m_bar(bar) {}
    void Show(int position, bool force = false) {
        if (!m_bar)
            return;
        if (force || !m_since.isValid() || m_since.elapsed() >= 50) {
            m_bar->setValue(position);
            m_since.start();
        }
    }

private:
    QProgressBar* m_bar;
    QElapsedTimer m_since;
};

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

void SetMaximum(QProgressBar* bar, int maximum) {
    // A maximum of 0 would turn the bar into a busy indicator.
    if (bar)
        bar->setRange(0, std::max(maximum, 1));
}

QString DecodePlaylist(const QByteArray& bytes) {
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    // Players on Windows write their playlists in the system's code page.
    QStringDecoder cp1252("windows-1252");
    if (cp1252.isValid())
        return cp1252.decode(body);
    return QString::fromLatin1(body);
}

// The entry number of a key "File<k>" (k written without sign or leading zero), 0
// for any other key.
qint64 FileNumber(const QString& key) {
    if (key.size() < 5 || !key.startsWith(QLatin1String("file"), Qt::CaseInsensitive))
        return 0;
    const QStringView digits = QStringView(key).mid(4);
    if (digits.size() > 18 || digits.front() == QLatin1Char('0'))
        return 0;
    qint64 n = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        n = n * 10 + (c.unicode() - '0');
    }
    return n;
}

} // namespace

void SavePlaylistFile(TListView* listView, const QString& fileName, QProgressBar* progressBar) {
    const int n = listView->RowCount();
    for (int i = 0; i < n; ++i) {
        const QTreeWidgetItem* row = listView->Row(i);
        for (int j : {0, 1, 2})
            if (HasLineBreak(TListView::SubItem(row, j)))
                throw TavoriaError(
                    QStringLiteral("No se puede exportar la fila %1 (%2): su nombre o su ruta "
                                   "contiene un salto de línea, que partiría el archivo de lista")
                        .arg(i + 1)
                        .arg(TListView::SubItem(row, 0).simplified()));
    }
    // A new document: nothing of a file already there is kept.
    TIniDocument ini{QString()};
    SetMaximum(progressBar, n);
    ini.WriteInteger(kSection, kCount, n);
    ProgressShown progress(progressBar);
    for (int k = 1; k <= n; ++k) {
        progress.Show(k);
        const QTreeWidgetItem* row = listView->Row(k - 1);
        const QString num = QString::number(k);
        ini.WriteString(kSection, QStringLiteral("Title") + num, TListView::SubItem(row, 0));
        ini.WriteString(kSection, QStringLiteral("File") + num, TListView::SubItem(row, 2));
        ini.WriteString(kSection, QStringLiteral("Length") + num, TListView::SubItem(row, 1));
    }
    if (progressBar)
        progressBar->setValue(0);
    WriteFileAtomically(ini.ToBytes(), fileName);
}

QString PlaylistEntryLocation(const QString& text, const QString& playlistFolder) {
    if (text.isEmpty())
        return text;
    if (text.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(text);
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            return url.toLocalFile();
        return text;
    }
    if (text.contains(QLatin1String("://")) || QFileInfo(text).isAbsolute() ||
        playlistFolder.isEmpty())
        return text;
    const QDir folder(playlistFolder);
    for (const QString& relative :
         {text, QString(text).replace(QLatin1Char('\\'), QLatin1Char('/'))}) {
        const QString path = QDir::cleanPath(folder.filePath(relative));
        if (QFileInfo(path).isFile())
            return path;
    }
    return text;
}

// ---- TPlaylistImport ----

TPlaylistImport::TPlaylistImport(TListView* list, QProgressBar* progress, QObject* parent)
    : QObject(parent), m_list(list), m_progress(progress), m_queue(new TRowQueue(list, this)) {
    m_queue->SetStopAtFailure(true);
    connect(m_queue, &TRowQueue::EntryDone, this, [this](int number) {
        ShowProgress(number, number >= m_count);
        ScheduleStep();
    });
    connect(m_queue, &TRowQueue::EntryFailed, this,
            [this](const QString&, const QString& message, int number) {
                // The bar stays at the entry that failed.
                ShowProgress(number, true);
                Finish(message);
            });
}

TPlaylistImport::~TPlaylistImport() = default;

void TPlaylistImport::Open(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw TavoriaError(
            QStringLiteral("No se pudo leer la lista %1: %2").arg(fileName, file.errorString()));
    const QString text = DecodePlaylist(file.readAll());
    file.close();
    auto ini = std::make_unique<TIniDocument>(QString());
    ini->Parse(text);
    if (!ini->SectionExists(kSection))
        throw TavoriaError(
            QStringLiteral("%1 no es una lista de reproducción: no tiene la sección [playlist]")
                .arg(fileName));
    int declared = 0;
    if (!TIniDocument::ParseInteger(ini->ReadString(kSection, kCount, QString()), declared))
        throw TavoriaError(
            QStringLiteral("La lista %1 no indica un número de entradas válido (NumberOfEntries)")
                .arg(fileName));
    if (declared < 0)
        throw TavoriaError(QStringLiteral("La lista %1 indica un número de entradas negativo (%2)")
                               .arg(fileName)
                               .arg(declared));
    // Only entries that exist count: a huge "NumberOfEntries" costs nothing.
    qint64 highest = 0, present = 0;
    for (const QString& key : ini->Keys(kSection)) {
        const qint64 k = FileNumber(key);
        if (k >= 1 && k <= declared) {
            highest = std::max(highest, k);
            ++present;
        }
    }
    if (highest - present > MaxMissingEntries)
        throw TavoriaError(
            QStringLiteral("La lista %1 no tiene %2 de sus %3 entradas; no se importa")
                .arg(fileName)
                .arg(highest - present)
                .arg(highest));
    m_ini = std::move(ini);
    m_count = int(highest);
    m_folder = QFileInfo(fileName).absolutePath();
}

void TPlaylistImport::Start() {
    if (m_running || !m_ini)
        return;
    m_running = true;
    m_next = 1;
    SetMaximum(m_progress, m_count);
    m_sinceProgress.start();
    ScheduleStep();
}

void TPlaylistImport::ScheduleStep() {
    if (!m_running || m_stepScheduled)
        return;
    m_stepScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_stepScheduled = false;
        Step();
    });
}

void TPlaylistImport::Step() {
    if (!m_running)
        return;
    if (!m_list) {
        Finish(QString());
        return;
    }
    QElapsedTimer slice;
    slice.start();
    while (m_running && m_next <= m_count && m_queue->Waiting() < ReadAhead &&
           slice.elapsed() < SliceMs) {
        const int k = m_next++;
        const QString location = PlaylistEntryLocation(
            m_ini->ReadString(kSection, QStringLiteral("File") + QString::number(k), QString()),
            m_folder);
        if (IsFile(location)) {
            // A file whose name holds a line break (a "file:" address can spell one
            // with %0A) is refused like a failed lookup: in its turn, ending the import.
            QTreeWidgetItem* row = nullptr;
            try {
                row = MakeMediaFileRow(location, m_list);
            } catch (const TavoriaError& e) {
                m_queue->AddFailure(location, e.message(), k);
                continue;
            }
            m_queue->AddRow(row, k);
        } else
            m_queue->AddUrl(location, k);
    }
    if (!m_running)
        return;
    if (m_next > m_count && m_queue->Waiting() == 0) {
        Finish(QString());
        return;
    }
    // More to read: go on after the window had its turn; rows waiting for titles
    // call again when they move on.
    if (m_next <= m_count && m_queue->Waiting() < ReadAhead)
        ScheduleStep();
}

void TPlaylistImport::ShowProgress(int position, bool force) {
    if (!m_progress)
        return;
    // The bar repaints at once on every change; a few changes a second are plenty.
    if (force || m_sinceProgress.elapsed() >= 50) {
        m_progress->setValue(position);
        m_sinceProgress.restart();
    }
}

void TPlaylistImport::Finish(const QString& error) {
    if (!m_running)
        return;
    m_running = false;
    m_queue->Clear();
    if (error.isEmpty() && m_progress)
        m_progress->setValue(0);
    emit Finished(error);
}

void LoadPlaylistFile(TListView* listView, const QString& fileName, QProgressBar* progressBar) {
    TPlaylistImport import(listView, progressBar);
    import.Open(fileName);
    QString error;
    QEventLoop loop;
    QObject::connect(&import, &TPlaylistImport::Finished, &loop, [&](const QString& e) {
        error = e;
        loop.quit();
    });
    import.Start();
    if (import.Running())
        loop.exec();
    if (!error.isEmpty())
        throw TavoriaError(error);
}
