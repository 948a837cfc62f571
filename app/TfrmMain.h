#pragma once
#include "app/ClockBeat.h"
#include "app/ErrorReporter.h"
#include "app/PlaylistCursor.h"
#include "app/RepeatedFailure.h"
#include "app/SaveThrottle.h"
#include "app/Widgets.h"
#include "media/TListView.h"

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTextEdit;
class QTimeEdit;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TIniDocument;
class TVlcPlayer;
class CuePlayer;
class TimeAnnouncer;
class MediaKeys;
enum class MediaKey;
class TPlaylistImport;
class TRowQueue;
class TRowFileCheck;
class TRemoteLink;
class MprisService;
class RemoteServer;
struct RemoteServerConfig;
struct RemoteSettings;

// The desk's one window. Its handlers only read controls, call the logic that
// lives in small classes and free functions, and write controls. Every handler
// runs inside Guard(): an error is shown in the one error box and the desk runs on.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Start-up, shutdown and the status bar.
    void FormCreate();
    void FormClose();
    // Saves the settings and the window's lists (with captionPage, the caption page's
    // lists too) into config.ini in one write. A cell that config.ini cannot hold is
    // left as the file had it and its refusal returned; everything else is saved.
    QStringList WriteConfig(bool captionPage);
    void Salir1Click();
    void Mensaje(const QString& text, int panel);
    void barStatusResize();

    // Settings (section "CONFIG" of config.ini).
    // The file-name forms open the file themselves; the start-up and the close hand
    // their one open document to the document forms.
    void SaveConfig(const QString& fileName);
    void SaveConfig(TIniDocument& ini);
    void LoadConfig(const QString& fileName);
    void LoadConfig(const TIniDocument& ini);
    // Records a start-up failure in "debug.txt" (and on the standard error).
    void RecordStartUpError(const QString& text);
    void cmdCurrentFolderClick();

    // The list views whose rows are kept in config.ini.
    QList<TListView*> DirectListViews() const;
    QList<TListView*> CaptionPageListViews() const;

    // Effects folder and tabs.
    void txtFolderCunasChange();
    void tabEfectosChange(int index);
    void cmdSetCunasClick();
    void lstJinglesDblClick();
    void cmdStopCueClick();
    void tbCueChange();
    void cboSoundCueChange();
    void CueProgressTick();
    CuePlayer* Cue() const { return m_cue; }
    TimeAnnouncer* Announcer() const { return m_announcer; }

    // Explorer root.
    void txtRootFolderChange();
    void cmdRootExploradorClick();
    void SetExplorador(const QString& cRuta, QTreeWidgetItem* Nodo);
    void lstExplorerExpanding(QTreeWidgetItem* Node);
    void lstExplorerCollapsed(QTreeWidgetItem* Node);

    // Web addresses typed under the playlist: rows join in the order typed, each
    // when its title is known (the window keeps running meanwhile).
    void txtAddUrlKeyDown(int key);
    TRowQueue* UrlRows() const { return m_urlRows; }
    // The name of the effect started last (empty when its file could not be played).
    const QString& EffectName() const { return m_effectName; }

    // Playlist files ("Importar Lista", "Exportar Lista"). The import runs in the
    // event loop; RunningImport is it while it runs, else nullptr.
    void Abrir1Click();
    void GuardarComo1Click();
    TPlaylistImport* RunningImport() const { return m_import; }
    // The two dialogs as the operator sees them (filter, title, default extension).
    static std::unique_ptr<QFileDialog> PlaylistFileDialog(QWidget* parent, bool save);
    // The chosen file of those dialogs, replaceable in tests; the empty text on cancel.
    std::function<QString()> PickPlaylistToOpen;
    std::function<QString()> PickPlaylistToSave;

    // Playlist.
    void cmdNextClick();
    QColor lstPlayListCustomDrawItem(int row) const;
    void lstPlayListDblClick();
    void lstPlayListKeyDown(int key);
    void lstPlayListDeletion(int index);
    void lstPlayListRowsInserted(int first, int count, int rowsBefore);
    void lstPlayListMoved(int from, int to);
    void lstPlayListInsert(QTreeWidgetItem* item);
    // A row that could not be played, or whose file is missing, keeps a red text
    // until it plays or leaves the list; it is never painted as on air.
    static bool RowFailed(const QTreeWidgetItem* item);
    void MarkRowFailed(QTreeWidgetItem* item, bool failed);
    // The files of the rows are checked off the window's thread.
    TRowFileCheck* FileCheck() const { return m_fileCheck; }
    void lstPlayListSelectItem(QTreeWidgetItem* item, bool selected);
    void Nuevo1Click();
    void SoltarFichero(const QStringList& paths);
    // A drag from a list of the window dropped at point (playlist coordinates).
    void lstPlayListDragDrop(QObject* Source, QPoint point);
    // Files dropped from a file manager (local URLs); false when the drop holds none.
    bool HandleFileDrop(const QMimeData* mime);

    // Captions: the list, its editor, its menu and the links of the playlist rows.
    void PublishCaption(int row);
    // Writes speaker, talk and details into the three caption files, in this order.
    void WriteCaptionFiles(const std::array<QString, 3>& texts);
    void PublishLinkedCaption(const QString& link);
    void cmdAddClick();
    void lstTextosDblClick();
    void lstTextosKeyDown(int key);
    void lstTextosResize();
    void lstTextosContextPopup();
    void sbmSendMesageClick();
    void sbmTitEditClick();
    void sbmTitDeleteClick();
    void sbmTitClearClick();
    // "Quitar de pantalla": takes the caption off air (the three files emptied).
    void sbmTitOffAirClick();
    void QuitarSubttulo1Click();
    void splResetLowerClick();

    // Clock, countdown and marquee.
    void tmrRegresivoTimer();
    void btnPlayConteoClick();
    void btnSendMarquesinaClick();
    // The beat behind tmrHora and tmrRegresivo (its clock is replaceable in tests).
    TClockBeat* ClockBeatSource() const { return m_beat; }

    // Transport.
    void cmdPlayPauseClick();
    void cmdStopClick();
    void cmdRepeatClick();
    void cmdStopOnPlayClick();
    void ProgBarChange();
    void vlcPlayerMediaPlayerMediaChanged();
    void vlcPlayerMediaPlayerEsAdded();
    void vlcPlayerMediaPlayerPlaying();
    void vlcPlayerMediaPlayerPaused();
    void vlcPlayerMediaPlayerStopped();
    void vlcPlayerMediaPlayerEndReached();
    void vlcPlayerMediaPlayerEncounteredError();
    void vlcPlayerMediaPlayerTimeChanged(qint64 time);
    void vlcPlayerMediaPlayerLengthChanged(qint64 length);
    // The player has just been created: it takes the level the sliders show.
    void vlcPlayerCreated();
    void tmrVumeterTimer();
    // A press of the keyboard's next-track or stop media key, from any window.
    void MediaKeyPress(MediaKey key);
    MediaKeys* Keys() const { return m_mediaKeys; }
    void tmrHoraTimer();
    // The time announcement (a click on the clock).
    void lblHoraClick();

    // Output settings.
    void volPrincipalChange();
    void volPisadorChange();
    void cmdPisadorClick();
    void chkVideoAdjustEnableClick();
    void volBassChange();
    void volMidChange();
    void volTrebleChange();
    void N240p1Click(QAction* item);
    void cboSoundMainChange();
    QString VlcDeviceIdForName(const QString& name);
    void chkNDIClick();

    // Remote control (HTTP, WebSocket, MPRIS): a thin layer that runs the handlers
    // above on this thread (main_remote.cpp).
    void WireRemote();
    void LoadRemoteConfig(const TIniDocument& ini);
    void SaveRemoteConfig(TIniDocument& ini) const;
    RemoteSettings RemoteSettingsFromControls() const;
    // Starts or stops the server as the controls say; a failure goes to the error box.
    void ApplyRemoteSettings();
    // The server's address as the tooltip of the remote's check box.
    void ShowRemoteAddress();
    // Starts the server with this configuration (tests, benchmarks).
    bool StartRemoteServer(const RemoteServerConfig& config, QString* error);
    RemoteServer* Remote() const;
    MprisService* Mpris() const;

    ErrorReporter& Errors() { return *m_errors; }
    // Runs f; an error it raises goes to the error box.
    template <typename F> void Guard(F&& f) noexcept { m_errors->Guard(std::forward<F>(f)); }

    // A folder picker, replaceable in tests; returns the empty text on cancel.
    std::function<QString()> PickFolder;
    // The picker's folder, refused (TavoriaError) when it cannot be kept in
    // config.ini; the empty text on cancel.
    QString ChooseFolder();

    // ---- Controls (objectName = the member's name) ----
    // Top tool bar.
    QWidget* ToolBar1;
    QToolButton* btnSendMarquesina;
    QGroupBox* GroupBox1;
    QLineEdit* txtPonente;
    QLineEdit* txtPonencia;
    QLineEdit* txtDetalles;
    QPushButton* cmdAdd;
    QGroupBox* GroupBox3;
    QTimeEdit* spnCronoRegresivo;
    QPushButton* btnPlayConteo;
    QLineEdit* txtMensajeConteo;

    // Left column.
    QTabWidget* pgExplorerSubtitler;
    QWidget* tabSubtitler;
    TListView* lstTextos;
    QWidget* tabExplorer;
    TExplorerTree* lstExplorer;
    QWidget* tabNotas;
    QTextEdit* txtMarquesina;
    QTextEdit* txtApuntes;
    QProgressBar* progreso;

    // Centre column.
    QWidget* PanelMonitor;
    TVlcPlayer* vlcPlayer = nullptr;
    QSlider* ProgBar;
    QLabel* lblEndTime;
    QLabel* lblRestante;
    QLabel* lblDuracion;
    QWidget* tlbControles;
    QToolButton* cmdPlayPause;
    QToolButton* cmdNext;
    QToolButton* cmdStop;
    QToolButton* cmdStopOnPlay;
    TClickLabel* lblHora;
    QToolButton* cmdRepeat;
    QToolButton* cmdPisador;
    TListView* lstPlayList;
    QLineEdit* txtAddUrl;
    QLabel* Label11;
    QSpinBox* txtRepeat;

    // Right column.
    QTabWidget* PageControl1;
    QWidget* tabControles;
    QSlider* volPrincipal;
    QSlider* volPisador;
    QCheckBox* chkVideoAdjustEnable;
    QSlider* volBass;
    QSlider* volMid;
    QSlider* volTreble;
    QSlider* tbCue;
    QWidget* tabSonido;
    QComboBox* cboSoundMain;
    QComboBox* cboSoundCue;
    QComboBox* cboHoras;
    QCheckBox* chkHoraPistas;
    QComboBox* cboSoundInput;
    QLabel* lblSoundInput;
    QWidget* tabGeneral;
    QLineEdit* txtCurrentSong;
    QPushButton* cmdCurrentFolder;
    QLineEdit* txtFolderCunas;
    QPushButton* cmdSetCunas;
    QLineEdit* txtRootFolder;
    QPushButton* cmdRootExplorador;
    QCheckBox* chkNDI;
    QCheckBox* chkUdp;
    QLineEdit* txtUdp;
    QCheckBox* chkTopSubtitle;
    QCheckBox* chkSaltarError;
    QProgressBar* ledL;
    QProgressBar* ledR;
    TListView* lstEventos;
    TSelectionBar* trkCuePosition;
    QPushButton* cmdStopCue;
    TListView* lstJingles;
    TTabStrip* tabEfectos;
    QCheckBox* chkRemoto = nullptr;
    QSpinBox* spnRemotoPuerto = nullptr;
    QLineEdit* txtRemotoIP = nullptr;
    QLineEdit* txtRemotoToken = nullptr;
    QPushButton* cmdRemotoGenerar = nullptr;

    // Hidden controls without behaviour.
    QWidget* panAuxiliar;
    TListView* lstAuxPlayList;
    QLabel* lblSiguiente;
    QSpinBox* txtFader;
    QLineEdit* ctrlLocutor;

    // Status bar, menus, timers, image lists.
    TStatusBar* barStatus;
    QMenu* mnListaReproduccion;
    QAction* Nuevo1;
    QAction* Abrir1;
    QAction* GuardarComo1;
    QAction* Salir1;
    QMenu* mnResolucion;
    QActionGroup* grpResolucion;
    QAction* N240p1;
    QAction* N480p1;
    QAction* N720p1;
    QAction* N1080p1;
    QMenu* subMenuLista;
    QAction* sbmSendMesage;
    QAction* sbmTitEdit;
    QAction* sbmTitDelete;
    QAction* sbmTitClear;
    QAction* sbmTitOffAir;
    QMenu* smnPlayList;
    QAction* QuitarSubttulo1;
    QAction* splResetLower;
    TSecondTimer* tmrHora;
    QTimer* tmrVumeter;
    TSecondTimer* tmrRegresivo;
    TImageList imgControls;
    TImageList icons16;
    TImageList Icons48;

    // Window-wide state.
    // The playlist's markers; CurrentIndex and NextIndex name its two fields.
    PlaylistCursor Cursor;
    int& CurrentIndex = Cursor.CurrentIndex;
    int& NextIndex = Cursor.NextIndex;
    qint32 LastTimeMs = 0;
    QString ExplorerRoot;

signals:
    // A caption row was published (its three files written).
    void CaptionPublished(int row);
    // The caption was taken off air (its three files emptied).
    void CaptionCleared();
    // One of the overlay files now holds text: written by the desk, or found so at
    // start-up. file is its name ("hora.txt", "conteo.txt", "marquesina.txt",
    // "ponente.txt", ...).
    void OverlayTextWritten(const QString& file, const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildForm();
    void BuildTopBar(QWidget* parent);
    QWidget* BuildLeftColumn(QWidget* parent);
    QWidget* BuildCentreColumn(QWidget* parent);
    QWidget* BuildRightColumn(QWidget* parent);
    void BuildHidden(QWidget* parent);
    void BuildMenus();
    void BuildTimers();
    void WireHandlers();
    void WireCaptions();
    void WireClock();
    void FillSoundCardLists();
    void SetUpOutputsAtStart();
    void InitEffectsCard();
    void ShowSoundCardFailure();

    void SetProgBar(int position, int maximum);
    // Asks for a check of the files of rows added (batched) and of the next row.
    void QueueFileCheck(QTreeWidgetItem* item);
    void CheckNextRow();
    void RowFilesMissing(const QList<quint64>& ids, quint64 announce);
    // Shows the video area black (nothing stale on the monitor).
    void BlankMonitor();
    void MediaAiring();
    void WirePlayer();
    void StartMediaKeys();
    void WireUrlEntry();
    void WirePlaylistFiles();
    void WireExplorer();
    // Adds local files at the end of the playlist, showing progress and keeping the
    // window painted through a long run.
    void AddFilesToPlayList(const QStringList& paths);

    ErrorReporter* m_errors;
    CuePlayer* m_cue = nullptr;
    TimeAnnouncer* m_announcer = nullptr;
    MediaKeys* m_mediaKeys = nullptr;
    TRowQueue* m_urlRows = nullptr;
    QString m_effectName;
    TPlaylistImport* m_import = nullptr;
    TRemoteLink* m_remote = nullptr;
    bool m_progBarAttached = true;
    // The media set last has reported Playing and its end has not been acted on.
    bool m_mediaPlayed = false;
    // Next has handed a new media to the player and its "media changed" report has
    // not arrived yet.
    bool m_awaitingMedia = false;
    // The media set last has a sound or picture stream.
    bool m_mediaHasStreams = false;
    // The row handed to the player while its play call runs (an error raised
    // inside it names that row), else -1.
    int m_startingRow = -1;
    int m_failuresInARow = 0;
    // The next row whose missing file is told when its check ends; 0 for none.
    quint64 m_announceNext = 0;
    QTimer* m_skipTimer = nullptr;
    TRowFileCheck* m_fileCheck = nullptr;
    QList<QTreeWidgetItem*> m_rowsToCheck;
    QTimer* m_checkTimer = nullptr;
    bool m_exiting = false;
    QStringList m_startUpErrors;
    TClockBeat* m_beat = nullptr;
    TRepeatedFailure m_clockFailure;
    TRepeatedFailure m_countdownFailure;
    // config.ini after a marquee send: at most one write a second however often the
    // marquee is sent (a remote client may send it ten times a second).
    SaveThrottle* m_marqueeSave = nullptr;
    bool m_soundCardFailed = false; // told once the window is on screen
};
