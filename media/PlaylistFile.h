#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QProgressBar;
class TIniDocument;
class TListView;
class TRowQueue;

// Playlist files (".pls"): one section "playlist" with "NumberOfEntries" and, for
// each entry k from 1, "Title<k>", "File<k>" and "Length<k>".

// Writes the rows of listView to fileName: the row's name, location and duration
// text. The file is replaced atomically (nothing of an older file stays). A row
// whose name, location or duration holds a line break cannot be written without
// splitting its line: it raises TavoriaError before anything is written.
// progressBar (may be nullptr) shows the row being written and 0 at the end.
void SavePlaylistFile(TListView* listView, const QString& fileName, QProgressBar* progressBar);

// Appends the entries of a playlist file to listView, as TPlaylistImport does, and
// returns when they are all in (a local event loop runs meanwhile). Raises
// TavoriaError as TPlaylistImport::Open does, and when a title lookup fails (the
// rows before that entry stay).
void LoadPlaylistFile(TListView* listView, const QString& fileName, QProgressBar* progressBar);

// The location an entry's "File" text stands for: a "file:" address of an existing
// file becomes its path; a relative path is taken from the playlist's folder when
// a file is there (also with "\" as separator); anything else is left as written.
QString PlaylistEntryLocation(const QString& text, const QString& playlistFolder);

// One import of a playlist file, without blocking the window: the entries are
// handled in order, a slice at a time, in the event loop. An entry that names an
// existing file becomes a media row (AddMediaFile's row; nothing for an unknown
// type); any other entry becomes a URL row, whose title a video-site address waits
// for (TRowQueue). A failed lookup ends the import at that entry.
class TPlaylistImport : public QObject {
    Q_OBJECT
public:
    // Missing entries below the highest "File" number are imported as empty rows,
    // but a file missing more than this many is refused.
    static constexpr int MaxMissingEntries = 10000;

    TPlaylistImport(TListView* list, QProgressBar* progress, QObject* parent = nullptr);
    ~TPlaylistImport() override;

    // Reads and checks the file. A file that cannot be read, that has no section
    // "playlist" or no readable "NumberOfEntries", whose count is negative, or
    // that misses too many entries raises TavoriaError; nothing has changed then.
    // The text is read as UTF-8, or as Windows-1252 when it is not valid UTF-8.
    void Open(const QString& fileName);
    // Entries to import: up to the highest "File" number present, at most the
    // file's "NumberOfEntries".
    int Count() const { return m_count; }
    // Starts handling the entries; Finished follows from the event loop.
    void Start();
    bool Running() const { return m_running; }
    // Ends a running import where it is (rows already added stay; entries still
    // waiting for their title are dropped); Finished follows with no error.
    void Cancel() { Finish(QString()); }

signals:
    // The import ended; error is empty when every entry was handled.
    void Finished(const QString& error);

private:
    void Step();
    void ScheduleStep();
    void Finish(const QString& error);
    void ShowProgress(int position, bool force);

    QPointer<TListView> m_list;
    QPointer<QProgressBar> m_progress;
    std::unique_ptr<TIniDocument> m_ini;
    TRowQueue* m_queue;
    QString m_folder;
    int m_count = 0;
    int m_next = 1;
    bool m_running = false;
    bool m_stepScheduled = false;
    QElapsedTimer m_sinceProgress;
};
