// Connections from the controls to the window's handlers. Every handler runs
// inside Guard(), so nothing it raises reaches Qt's event loop.
#include "app/CuePlayer.h"
#include "app/RowFileCheck.h"
#include "app/TfrmMain.h"
#include "player/VlcPlayerUnit.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>

void TfrmMain::WireHandlers() {
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler](auto&&...) { Guard([&] { handler(); }); });
    };
    connect(barStatus, &TStatusBar::Resized, this, [this] { barStatusResize(); });
    on(Salir1, &QAction::triggered, [this] { Salir1Click(); });
    on(cmdCurrentFolder, &QPushButton::clicked, [this] { cmdCurrentFolderClick(); });
    on(cmdSetCunas, &QPushButton::clicked, [this] { cmdSetCunasClick(); });
    on(cmdRootExplorador, &QPushButton::clicked, [this] { cmdRootExploradorClick(); });
    // These two handlers are never guarded here. While the settings load, an error of
    // theirs must reach the start-up's own handling (it records it in debug.txt).
    // Afterwards the texts change only in the folder pickers' handlers, which run
    // inside Guard, so an error then still ends in the one error box.
    connect(txtFolderCunas, &QLineEdit::textChanged, this, [this] { txtFolderCunasChange(); });
    connect(txtRootFolder, &QLineEdit::textChanged, this, [this] { txtRootFolderChange(); });
    connect(tabEfectos, &TTabStrip::TabIndexChanged, this,
            [this](int index) { Guard([&] { tabEfectosChange(index); }); });
    connect(lstExplorer, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { Guard([&] { lstExplorerExpanding(item); }); });
    on(cboSoundMain, &QComboBox::activated, [this] { cboSoundMainChange(); });
    on(chkNDI, &QCheckBox::toggled, [this] { chkNDIClick(); });

    // Playlist.
    lstPlayList->RowColour = [this](int row) { return lstPlayListCustomDrawItem(row); };
    connect(lstPlayList, &TListView::OnInsert, this,
            [this](QTreeWidgetItem* item) { Guard([&] { lstPlayListInsert(item); }); });
    // The markers follow the rows first, before any other handling of the edit.
    connect(lstPlayList, &TListView::OnRowsInserted, this,
            [this](int first, int count, int before) {
                Guard([&] { lstPlayListRowsInserted(first, count, before); });
            });
    connect(lstPlayList, &TListView::OnDeletion, this,
            [this](int index) { Guard([&] { lstPlayListDeletion(index); }); });
    connect(lstPlayList, &TListView::OnMoved, this,
            [this](int from, int to) { Guard([&] { lstPlayListMoved(from, to); }); });
    // Files of rows added are checked in batches, off this thread.
    m_fileCheck = new TRowFileCheck(this);
    connect(m_fileCheck, &TRowFileCheck::Missing, this,
            [this](const QList<quint64>& ids, quint64 announce) {
                Guard([&] { RowFilesMissing(ids, announce); });
            });
    m_checkTimer = new QTimer(this);
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setInterval(0);
    connect(m_checkTimer, &QTimer::timeout, this, [this] {
        // Rows that left the list meanwhile are not checked (pointers are only
        // compared here, never followed).
        QSet<QTreeWidgetItem*> rows;
        rows.reserve(lstPlayList->RowCount());
        for (int i = 0; i < lstPlayList->RowCount(); ++i)
            rows.insert(lstPlayList->Row(i));
        QList<QTreeWidgetItem*> check;
        for (QTreeWidgetItem* item : std::as_const(m_rowsToCheck))
            if (rows.contains(item))
                check.push_back(item);
        m_rowsToCheck.clear();
        m_fileCheck->Check(check);
    });
    m_skipTimer = new QTimer(this);
    m_skipTimer->setSingleShot(true);
    m_skipTimer->setInterval(200);
    connect(m_skipTimer, &QTimer::timeout, this, [this] { Guard([&] { cmdNextClick(); }); });
    connect(lstPlayList, &TListView::OnSelectItem, this, [this](QTreeWidgetItem* item, bool sel) {
        Guard([&] { lstPlayListSelectItem(item, sel); });
    });
    on(lstPlayList, &QTreeWidget::itemDoubleClicked, [this] { lstPlayListDblClick(); });
    lstPlayList->installEventFilter(this);
    lstPlayList->viewport()->installEventFilter(this);
    on(Nuevo1, &QAction::triggered, [this] { Nuevo1Click(); });

    // Transport.
    on(cmdNext, &QToolButton::clicked, [this] { cmdNextClick(); });
    on(cmdPlayPause, &QToolButton::clicked, [this] { cmdPlayPauseClick(); });
    on(cmdStop, &QToolButton::clicked, [this] { cmdStopClick(); });
    on(cmdRepeat, &QToolButton::clicked, [this] { cmdRepeatClick(); });
    on(cmdStopOnPlay, &QToolButton::clicked, [this] { cmdStopOnPlayClick(); });
    on(ProgBar, &QSlider::valueChanged, [this] { ProgBarChange(); });
    on(tmrVumeter, &QTimer::timeout, [this] { tmrVumeterTimer(); });
    on(tmrHora, &TSecondTimer::timeout, [this] { tmrHoraTimer(); });
    on(lblHora, &TClickLabel::clicked, [this] { lblHoraClick(); });
    WirePlayer();
    WireCaptions();
    WireClock();

    // Output settings.
    on(volPrincipal, &QSlider::valueChanged, [this] { volPrincipalChange(); });
    on(volPisador, &QSlider::valueChanged, [this] { volPisadorChange(); });
    on(cmdPisador, &QToolButton::clicked, [this] { cmdPisadorClick(); });
    on(chkVideoAdjustEnable, &QCheckBox::clicked, [this] { chkVideoAdjustEnableClick(); });
    on(volBass, &QSlider::valueChanged, [this] { volBassChange(); });
    on(volMid, &QSlider::valueChanged, [this] { volMidChange(); });
    on(volTreble, &QSlider::valueChanged, [this] { volTrebleChange(); });
    connect(grpResolucion, &QActionGroup::triggered, this,
            [this](QAction* item) { Guard([&] { N240p1Click(item); }); });

    // Effects.
    on(lstJingles, &QTreeWidget::itemDoubleClicked, [this] { lstJinglesDblClick(); });
    on(cmdStopCue, &QPushButton::clicked, [this] { cmdStopCueClick(); });
    on(tbCue, &QSlider::valueChanged, [this] { tbCueChange(); });
    on(cboSoundCue, &QComboBox::activated, [this] { cboSoundCueChange(); });
    connect(m_cue, &CuePlayer::ProgressMaximumChanged, trkCuePosition, &TSelectionBar::SetMax);
    connect(m_cue, &CuePlayer::ProgressPositionChanged, trkCuePosition, &TSelectionBar::SetSelEnd);

    // Media library.
    WireUrlEntry();
    WirePlaylistFiles();
    WireExplorer();

    // Remote control.
    WireRemote();
}

void TfrmMain::WirePlayer() {
    auto on = [this](auto signal, auto handler) {
        connect(vlcPlayer, signal, this,
                [this, handler](auto... args) { Guard([&] { handler(args...); }); });
    };
    on(&TVlcPlayer::OnMediaPlayerMediaChanged,
       [this](const QString&) { vlcPlayerMediaPlayerMediaChanged(); });
    on(&TVlcPlayer::OnMediaPlayerEsAdded, [this](int, int) { vlcPlayerMediaPlayerEsAdded(); });
    on(&TVlcPlayer::OnMediaPlayerPlaying, [this] { vlcPlayerMediaPlayerPlaying(); });
    on(&TVlcPlayer::OnMediaPlayerPaused, [this] { vlcPlayerMediaPlayerPaused(); });
    on(&TVlcPlayer::OnMediaPlayerStopped, [this] { vlcPlayerMediaPlayerStopped(); });
    on(&TVlcPlayer::OnMediaPlayerEndReached, [this] { vlcPlayerMediaPlayerEndReached(); });
    on(&TVlcPlayer::OnMediaPlayerEncounteredError,
       [this] { vlcPlayerMediaPlayerEncounteredError(); });
    on(&TVlcPlayer::OnMediaPlayerTimeChanged,
       [this](qint64 time) { vlcPlayerMediaPlayerTimeChanged(time); });
    on(&TVlcPlayer::OnMediaPlayerLengthChanged,
       [this](qint64 length) { vlcPlayerMediaPlayerLengthChanged(length); });
    on(&TVlcPlayer::OnPlayerCreated, [this] { vlcPlayerCreated(); });
}
