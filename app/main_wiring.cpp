// Connections from the controls to the window's handlers. Every handler runs
// inside Guard(), so nothing it raises reaches Qt's event loop.
#include "app/CuePlayer.h"
#include "app/TfrmMain.h"
#include "player/VlcPlayerUnit.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
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
    // Changes of these texts run their handlers also while the settings load, where
    // an error must reach the start-up's own handling (it records it in debug.txt):
    // so they are not guarded. Afterwards the texts change only through the folder
    // pickers, and a listing of any folder raises nothing.
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
    connect(lstPlayList, &TListView::OnDeletion, this,
            [this] { Guard([&] { lstPlayListDeletion(); }); });
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
    // Media changed: the window does nothing with it.
}
