// Remote control of the desk: the HTTP API, the WebSocket push channel, the web
// page and MPRIS2. Every action runs here, on the window's thread, through the
// window's own handler; nothing of the desk's logic is repeated.
#include "app/CuePlayer.h"
#include "app/PlayoutLogic.h"
#include "app/TfrmMain.h"
#include "media/TIniDocument.h"
#include "media/TavoriaError.h"
#include "player/VlcPlayerUnit.h"
#include "remote/Mpris.h"
#include "remote/OverlayFiles.h"
#include "remote/RemoteApi.h"
#include "remote/RemoteServer.h"
#include "remote/RemoteSettings.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>

#ifndef TAVORIA_VERSION
#define TAVORIA_VERSION "3.2"
#endif

// The web page lives in the resources of a static library: they are registered
// explicitly, or the linker may leave them out.
static void InitRemoteResources() {
    Q_INIT_RESOURCE(remote);
}

namespace {

QString StateName(TVlcPlayerState state) {
    switch (state) {
    case vlcPlayer_Opening:
    case vlcPlayer_Buffering:
    case vlcPlayer_Playing:
        return QStringLiteral("playing");
    case vlcPlayer_Paused:
        return QStringLiteral("paused");
    default:
        return QStringLiteral("stopped");
    }
}

QString PlayerStateName(TVlcPlayerState state) {
    static const char* names[] = {"nothing", "opening", "buffering", "playing",
                                  "paused",  "stopped", "ended",     "error"};
    const int i = int(state);
    return i >= 0 && i < 8 ? QString::fromLatin1(names[i]) : QStringLiteral("unknown");
}

QJsonValue RowObject(TListView* list, int index) {
    QTreeWidgetItem* row = list->Row(index);
    if (!row)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("index"), index},
                       {QStringLiteral("number"), index + 1},
                       {QStringLiteral("name"), TListView::SubItem(row, 0)},
                       {QStringLiteral("duration"), TListView::SubItem(row, 1)},
                       {QStringLiteral("path"), TListView::SubItem(row, 2)},
                       {QStringLiteral("caption"), TListView::SubItem(row, 4)}};
}

// The files of the web remote, from the resources.
QHash<QString, StaticFile> WebFiles() {
    InitRemoteResources();
    QHash<QString, StaticFile> files;
    const QByteArray csp = "default-src 'none'; script-src 'self'; style-src 'self'; "
                           "img-src 'self' data:; connect-src 'self'; base-uri 'none'; "
                           "form-action 'none'; frame-ancestors 'none'";
    const struct {
        const char* path;
        const char* resource;
        const char* type;
    } table[] = {{"/", ":/remote/index.html", "text/html; charset=utf-8"},
                 {"/index.html", ":/remote/index.html", "text/html; charset=utf-8"},
                 {"/remote.css", ":/remote/remote.css", "text/css; charset=utf-8"},
                 {"/remote.js", ":/remote/remote.js", "text/javascript; charset=utf-8"}};
    for (const auto& entry : table) {
        QFile file(QString::fromLatin1(entry.resource));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        StaticFile f;
        f.contentType = entry.type;
        f.body = file.readAll();
        f.headers.append(qMakePair(QByteArray("Content-Security-Policy"), csp));
        files.insert(QString::fromLatin1(entry.path), f);
    }
    return files;
}

} // namespace

// The window as the remote control sees it, plus the server, the push channel and
// MPRIS. Lives and runs on the window's thread.
class TRemoteLink : public QObject, public RemoteDesk {
public:
    explicit TRemoteLink(TfrmMain* window);
    // The server stops first, while the timers its last signal reaches (no more event
    // clients) still exist: members go in reverse order, the server after them.
    ~TRemoteLink() override { m_server.Stop(); }

    // RemoteDesk
    QJsonObject State() override;
    QJsonArray Playlist() override;
    QByteArray PlaylistJson() override;
    int PlaylistCount() override { return m_w->lstPlayList->RowCount(); }
    void Next() override;
    void PlayPause() override;
    void Stop() override;
    bool ToggleRepeat() override;
    bool ToggleStopAfter() override;
    void MakeNext(int row) override;
    QJsonArray Captions() override;
    int CaptionCount() override { return m_w->lstTextos->RowCount(); }
    void PublishCaption(int row) override;
    void ClearCaption() override;
    bool AddCaption(const QString& speaker, const QString& talk, const QString& details) override;
    void StartCountdown(std::optional<QTime> time) override;
    void StopCountdown() override;
    void SendMarquee(const QString& text) override;
    QStringList EffectTabs() override { return m_w->tabEfectos->Tabs(); }
    int EffectTab() override { return m_w->tabEfectos->TabIndex(); }
    void ChooseEffectTab(int tab) override;
    QStringList EffectNames() override;
    void PlayEffect(int row) override;
    void StopEffect() override;
    void AnnounceClock() override;
    bool CountdownRunning() const;

    bool Start(const RemoteServerConfig& config, QString* error);
    void StopServer();
    // Builds the state now and sends it to the event clients when it changed.
    void Push();
    void SchedulePush();

    TfrmMain* m_w;
    RemoteApi m_api{this};
    RemoteServer m_server;
    MprisService m_mpris;
    QTimer m_pushTimer;
    QTimer m_pushSoon;
    QByteArray m_lastState;
    QJsonObject m_lastStateObject;
    QElapsedTimer m_sincePositionPush;
    qint64 m_lengthMs = 0;
    QJsonValue m_caption = QJsonValue::Null;
    OverlayTexts m_overlay;
    // GET /api/playlist is answered from here while the list and its markers stay
    // as they were: a long list is turned into JSON once per change.
    quint64 m_playlistRevision = 1;
    quint64 m_playlistJsonRevision = 0;
    int m_playlistJsonCurrent = -1;
    int m_playlistJsonNext = -1;
    QByteArray m_playlistJson;

private:
    // Runs a handler; its failure is shown in the window's error box, as when the
    // operator runs it, and answered to the client as well.
    template <typename F> void Invoke(F&& f) {
        if (!m_w->vlcPlayer)
            throw RemoteError(409, QStringLiteral("La mesa se está cerrando"));
        try {
            f();
        } catch (const RemoteError&) {
            throw;
        } catch (const std::exception& e) {
            m_w->Errors().Report(ErrorText(e));
            throw;
        }
        SchedulePush();
    }
};

TRemoteLink::TRemoteLink(TfrmMain* window)
    : QObject(window), m_w(window), m_mpris(this, [window] {
          window->showNormal();
          window->raise();
          window->activateWindow();
      }) {
    m_server.SetHandler([this](const HttpRequest& r) { return m_api.Handle(r); });
    m_server.SetStaticFiles(WebFiles());
    // The state is compared every 50 ms while a client listens, so a change reaches
    // it within 100 ms of the window showing it.
    m_pushTimer.setInterval(50);
    connect(&m_pushTimer, &QTimer::timeout, this, [this] { Push(); });
    m_pushSoon.setSingleShot(true);
    m_pushSoon.setInterval(0);
    connect(&m_pushSoon, &QTimer::timeout, this, [this] { Push(); });
    connect(&m_server, &RemoteServer::EventClientsChanged, this, [this](int count) {
        if (count > 0 && !m_pushTimer.isActive()) {
            m_lastState.clear();
            m_pushTimer.start();
            Push();
        } else if (count == 0) {
            m_pushTimer.stop();
        }
    });
    m_sincePositionPush.start();
}

bool TRemoteLink::Start(const RemoteServerConfig& config, QString* error) {
    // The overlay pages; a folder "overlays" in the working folder restyles them.
    m_server.SetFileSource(
        OverlayFileSource(QDir::current().absoluteFilePath(QStringLiteral("overlays"))));
    return m_server.Start(config, error);
}

void TRemoteLink::StopServer() {
    m_server.Stop();
}

void TRemoteLink::SchedulePush() {
    if (!m_pushSoon.isActive())
        m_pushSoon.start();
}

void TRemoteLink::Push() {
    if (!m_w->vlcPlayer)
        return;
    m_mpris.Refresh();
    if (m_server.EventClients() == 0)
        return;
    const QJsonObject state = State();
    const QByteArray bytes = QJsonDocument(state).toJson(QJsonDocument::Compact);
    if (bytes == m_lastState)
        return;
    QJsonArray changed;
    bool onlyTime = !m_lastState.isEmpty();
    for (auto it = state.begin(); it != state.end(); ++it) {
        if (m_lastStateObject.value(it.key()) == it.value())
            continue;
        changed.append(it.key());
        static const QStringList timeKeys = {QStringLiteral("position_ms"),
                                             QStringLiteral("remaining_ms"),
                                             QStringLiteral("remaining"), QStringLiteral("clock")};
        if (!timeKeys.contains(it.key()))
            onlyTime = false;
    }
    // The position alone is sent at most 4 times a second.
    if (onlyTime && m_sincePositionPush.elapsed() < 250)
        return;
    m_sincePositionPush.restart();
    m_lastState = bytes;
    m_lastStateObject = state;
    const QJsonObject message{{QStringLiteral("type"), QStringLiteral("state")},
                              {QStringLiteral("changed"), changed},
                              {QStringLiteral("state"), state}};
    m_server.Publish(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

QJsonObject TRemoteLink::State() {
    const TVlcPlayerState player =
        m_w->vlcPlayer ? m_w->vlcPlayer->GetState() : vlcPlayer_NothingSpecial;
    const int rows = m_w->lstPlayList->RowCount();
    const qint64 position = m_w->ProgBar->value();
    const qint64 length = m_lengthMs > 0 ? m_lengthMs : 0;
    const QTime endTime = m_w->MediaEndTime();
    QJsonObject effect{{QStringLiteral("playing"), false}};
    const HSTREAM cue = m_w->Cue()->CueStream();
    if (cue != 0 && BASS_ChannelIsActive(cue) == BASS_ACTIVE_PLAYING) {
        const int maximum = m_w->Cue()->ProgressMaximum();
        effect = {{QStringLiteral("playing"), true},
                  {QStringLiteral("name"), m_w->EffectName()},
                  {QStringLiteral("progress"),
                   maximum > 0 ? double(m_w->Cue()->ProgressPosition()) / maximum : 0.0}};
    }
    return {
        {QStringLiteral("version"), QStringLiteral(TAVORIA_VERSION)},
        {QStringLiteral("state"), StateName(player)},
        {QStringLiteral("player"), PlayerStateName(player)},
        {QStringLiteral("current"), RowObject(m_w->lstPlayList, m_w->CurrentIndex)},
        {QStringLiteral("next"), RowObject(m_w->lstPlayList, RowToPlay(m_w->NextIndex, rows))},
        {QStringLiteral("position_ms"), position},
        {QStringLiteral("length_ms"), length},
        {QStringLiteral("remaining_ms"), std::max<qint64>(0, length - position)},
        {QStringLiteral("remaining"), m_w->lblRestante->text()},
        {QStringLiteral("length"), m_w->lblDuracion->text()},
        {QStringLiteral("end_time"),
         endTime.isValid() ? endTime.toString(QStringLiteral("HH:mm:ss")) : QString()},
        {QStringLiteral("repeat"), m_w->cmdRepeat->isChecked()},
        {QStringLiteral("stopAfter"), m_w->cmdStopOnPlay->isChecked()},
        {QStringLiteral("countdown"),
         QJsonObject{{QStringLiteral("running"), CountdownRunning()},
                     {QStringLiteral("remaining"),
                      m_w->spnCronoRegresivo->time().toString(QStringLiteral("mm:ss"))}}},
        {QStringLiteral("caption"), m_caption},
        {QStringLiteral("effect"), effect},
        {QStringLiteral("clock"), m_w->lblHora->text()},
        {QStringLiteral("overlay"), m_overlay.Json()},
    };
}

QJsonArray TRemoteLink::Playlist() {
    QJsonArray rows;
    for (int i = 0; i < m_w->lstPlayList->RowCount(); ++i) {
        QJsonObject row = RowObject(m_w->lstPlayList, i).toObject();
        row.insert(QStringLiteral("playing"), i == m_w->CurrentIndex);
        row.insert(QStringLiteral("next"),
                   i == RowToPlay(m_w->NextIndex, m_w->lstPlayList->RowCount()));
        rows.append(row);
    }
    return rows;
}

QByteArray TRemoteLink::PlaylistJson() {
    const int next = RowToPlay(m_w->NextIndex, m_w->lstPlayList->RowCount());
    if (m_playlistJsonRevision != m_playlistRevision ||
        m_playlistJsonCurrent != m_w->CurrentIndex || m_playlistJsonNext != next ||
        m_playlistJson.isEmpty()) {
        m_playlistJson = RemoteDesk::PlaylistJson();
        m_playlistJsonRevision = m_playlistRevision;
        m_playlistJsonCurrent = m_w->CurrentIndex;
        m_playlistJsonNext = next;
    }
    return m_playlistJson;
}

void TRemoteLink::Next() {
    Invoke([this] { m_w->cmdNextClick(); });
}

void TRemoteLink::PlayPause() {
    Invoke([this] { m_w->cmdPlayPauseClick(); });
}

void TRemoteLink::Stop() {
    Invoke([this] { m_w->cmdStopClick(); });
}

bool TRemoteLink::ToggleRepeat() {
    // As a press of the check-style button: the state flips, then its handler runs.
    Invoke([this] {
        m_w->cmdRepeat->setChecked(!m_w->cmdRepeat->isChecked());
        m_w->cmdRepeatClick();
    });
    return m_w->cmdRepeat->isChecked();
}

bool TRemoteLink::ToggleStopAfter() {
    Invoke([this] {
        m_w->cmdStopOnPlay->setChecked(!m_w->cmdStopOnPlay->isChecked());
        m_w->cmdStopOnPlayClick();
    });
    return m_w->cmdStopOnPlay->isChecked();
}

void TRemoteLink::MakeNext(int row) {
    // As a double-click on the row: it becomes the selected row, then the
    // double-click handler makes it the next one.
    Invoke([this, row] {
        QTreeWidgetItem* item = m_w->lstPlayList->Row(row);
        m_w->lstPlayList->clearSelection();
        m_w->lstPlayList->setCurrentItem(item);
        item->setSelected(true);
        m_w->lstPlayListDblClick();
    });
}

QJsonArray TRemoteLink::Captions() {
    QJsonArray rows;
    for (int i = 0; i < m_w->lstTextos->RowCount(); ++i) {
        QTreeWidgetItem* row = m_w->lstTextos->Row(i);
        rows.append(QJsonObject{{QStringLiteral("number"), i + 1},
                                {QStringLiteral("speaker"), TListView::SubItem(row, 0)},
                                {QStringLiteral("talk"), TListView::SubItem(row, 1)},
                                {QStringLiteral("details"), TListView::SubItem(row, 2)}});
    }
    return rows;
}

void TRemoteLink::PublishCaption(int row) {
    Invoke([this, row] { m_w->PublishCaption(row); });
}

void TRemoteLink::ClearCaption() {
    Invoke([this] { m_w->sbmTitOffAirClick(); });
}

bool TRemoteLink::AddCaption(const QString& speaker, const QString& talk, const QString& details) {
    // The editor adds the row, as when the operator types it and presses "Add".
    // While the operator edits a row the button replaces that row instead: refused.
    if (m_w->CaptionEditor().Editing())
        throw RemoteError(409, QStringLiteral("Se está editando un subtítulo en la mesa; termine "
                                              "la edición primero"));
    // What the operator had typed in the editor comes back afterwards.
    const QString draft[] = {m_w->txtPonente->text(), m_w->txtPonencia->text(),
                             m_w->txtDetalles->text()};
    const int before = m_w->lstTextos->RowCount();
    Invoke([&] {
        m_w->txtPonente->setText(speaker);
        m_w->txtPonencia->setText(talk);
        m_w->txtDetalles->setText(details);
        try {
            m_w->cmdAddClick();
        } catch (...) {
            m_w->txtPonente->setText(draft[0]);
            m_w->txtPonencia->setText(draft[1]);
            m_w->txtDetalles->setText(draft[2]);
            throw;
        }
        m_w->txtPonente->setText(draft[0]);
        m_w->txtPonencia->setText(draft[1]);
        m_w->txtDetalles->setText(draft[2]);
    });
    return m_w->lstTextos->RowCount() > before;
}

bool TRemoteLink::CountdownRunning() const {
    return m_w->Countdown().Running();
}

void TRemoteLink::StartCountdown(std::optional<QTime> time) {
    if (CountdownRunning())
        throw RemoteError(409, QStringLiteral("El conteo ya está en marcha"));
    Invoke([&] {
        if (time)
            m_w->spnCronoRegresivo->setTime(*time);
        m_w->btnPlayConteoClick();
    });
    if (!CountdownRunning())
        throw RemoteError(409, QStringLiteral("El conteo está en 00:00: indique un tiempo"));
}

void TRemoteLink::StopCountdown() {
    if (!CountdownRunning())
        throw RemoteError(409, QStringLiteral("El conteo no está en marcha"));
    Invoke([&] { m_w->btnPlayConteoClick(); });
}

void TRemoteLink::SendMarquee(const QString& text) {
    // The text becomes the marquee editor's, then it is sent as by its button.
    Invoke([&] {
        m_w->txtMarquesina->setPlainText(text);
        m_w->btnSendMarquesinaClick();
    });
}

void TRemoteLink::ChooseEffectTab(int tab) {
    // As a click on the tab.
    Invoke([this, tab] {
        m_w->tabEfectos->SetTabIndex(tab);
        m_w->tabEfectosChange(tab);
    });
}

QStringList TRemoteLink::EffectNames() {
    QStringList names;
    for (int i = 0; i < m_w->lstJingles->RowCount(); ++i)
        names << TListView::SubItem(m_w->lstJingles->Row(i), 0);
    return names;
}

void TRemoteLink::PlayEffect(int row) {
    // As a double-click on the row: it gets the focus, then the handler plays it.
    Invoke([this, row] {
        QTreeWidgetItem* item = m_w->lstJingles->Row(row);
        m_w->lstJingles->setCurrentItem(item);
        m_w->lstJinglesDblClick();
    });
}

void TRemoteLink::StopEffect() {
    Invoke([this] { m_w->cmdStopCueClick(); });
}

void TRemoteLink::AnnounceClock() {
    Invoke([this] { m_w->lblHoraClick(); });
}

// ---------------------------------------------------------------------------

void TfrmMain::WireRemote() {
    // Settings on "Configuración General".
    auto* grid = qobject_cast<QGridLayout*>(tabGeneral->layout());
    auto* row1 = new QHBoxLayout();
    chkRemoto = new QCheckBox(QStringLiteral("Control remoto (HTTP)"), tabGeneral);
    chkRemoto->setObjectName(QStringLiteral("chkRemoto"));
    spnRemotoPuerto = new QSpinBox(tabGeneral);
    spnRemotoPuerto->setObjectName(QStringLiteral("spnRemotoPuerto"));
    spnRemotoPuerto->setRange(1, 65535);
    spnRemotoPuerto->setValue(9020);
    spnRemotoPuerto->setToolTip(QStringLiteral("Puerto del control remoto"));
    txtRemotoIP = new QLineEdit(QStringLiteral("127.0.0.1"), tabGeneral);
    txtRemotoIP->setObjectName(QStringLiteral("txtRemotoIP"));
    txtRemotoIP->setToolTip(
        QStringLiteral("Dirección en la que escucha: 127.0.0.1 solo este equipo; 0.0.0.0 toda "
                       "la red (necesita token)"));
    txtRemotoToken = new QLineEdit(tabGeneral);
    txtRemotoToken->setObjectName(QStringLiteral("txtRemotoToken"));
    txtRemotoToken->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    txtRemotoToken->setPlaceholderText(QStringLiteral("Token"));
    txtRemotoToken->setToolTip(QStringLiteral("Token de acceso (obligatorio fuera de 127.0.0.1)"));
    row1->addWidget(chkRemoto);
    row1->addWidget(new QLabel(QStringLiteral("IP"), tabGeneral));
    row1->addWidget(txtRemotoIP, 2);
    row1->addWidget(new QLabel(QStringLiteral("Puerto"), tabGeneral));
    row1->addWidget(spnRemotoPuerto, 1);
    row1->addWidget(txtRemotoToken, 2);
    cmdRemotoGenerar = new QPushButton(QStringLiteral("Generar"), tabGeneral);
    cmdRemotoGenerar->setObjectName(QStringLiteral("cmdRemotoGenerar"));
    cmdRemotoGenerar->setToolTip(QStringLiteral("Crea un token aleatorio de 32 caracteres"));
    row1->addWidget(cmdRemotoGenerar);
    if (grid) {
        const int row = grid->rowCount();
        grid->setRowStretch(row - 1, 0);
        grid->addLayout(row1, row, 0, 1, 3);
        grid->setRowStretch(row + 1, 1);
    }

    m_remote = new TRemoteLink(this);
    // Any change of the list's rows or texts makes the playlist's JSON stale. The
    // list's model also reports its reset while the window is being destroyed (its
    // children go after its own destructor has run): the handler reaches the link
    // alone, never the window's members.
    QAbstractItemModel* playlistModel = lstPlayList->model();
    TRemoteLink* link = m_remote;
    const auto stale = [link] { ++link->m_playlistRevision; };
    connect(playlistModel, &QAbstractItemModel::rowsInserted, m_remote, stale);
    connect(playlistModel, &QAbstractItemModel::rowsRemoved, m_remote, stale);
    connect(playlistModel, &QAbstractItemModel::rowsMoved, m_remote, stale);
    connect(playlistModel, &QAbstractItemModel::dataChanged, m_remote, stale);
    connect(playlistModel, &QAbstractItemModel::layoutChanged, m_remote, stale);
    connect(playlistModel, &QAbstractItemModel::modelReset, m_remote, stale);
    connect(chkRemoto, &QCheckBox::toggled, this,
            [this] { Guard([&] { ApplyRemoteSettings(); }); });
    for (QLineEdit* edit : {txtRemotoIP, txtRemotoToken})
        connect(edit, &QLineEdit::editingFinished, this, [this] {
            if (chkRemoto->isChecked())
                Guard([&] { ApplyRemoteSettings(); });
        });
    connect(cmdRemotoGenerar, &QPushButton::clicked, this, [this] {
        Guard([&] {
            txtRemotoToken->setText(GenerateRemoteToken());
            if (chkRemoto->isChecked())
                ApplyRemoteSettings();
        });
    });
    connect(&m_remote->m_server, &RemoteServer::ListeningResumed, this,
            [this] { Guard([&] { ShowRemoteAddress(); }); });
    connect(spnRemotoPuerto, &QSpinBox::editingFinished, this, [this] {
        if (chkRemoto->isChecked())
            Guard([&] { ApplyRemoteSettings(); });
    });

    // What the remote clients and the desktop see follows the player's reports and
    // the captions published, at once.
    for (auto signal : {&TVlcPlayer::OnMediaPlayerPlaying, &TVlcPlayer::OnMediaPlayerPaused,
                        &TVlcPlayer::OnMediaPlayerStopped, &TVlcPlayer::OnMediaPlayerEndReached,
                        &TVlcPlayer::OnMediaPlayerEncounteredError})
        connect(vlcPlayer, signal, m_remote, [this] { m_remote->SchedulePush(); });
    connect(vlcPlayer, &TVlcPlayer::OnMediaPlayerLengthChanged, m_remote, [this](qint64 length) {
        m_remote->m_lengthMs = length;
        m_remote->SchedulePush();
    });
    connect(this, &TfrmMain::CaptionPublished, m_remote, [this](int row) {
        QTreeWidgetItem* item = lstTextos->Row(row);
        m_remote->m_caption = QJsonObject{{QStringLiteral("number"), row + 1},
                                          {QStringLiteral("speaker"), TListView::SubItem(item, 0)},
                                          {QStringLiteral("talk"), TListView::SubItem(item, 1)},
                                          {QStringLiteral("details"), TListView::SubItem(item, 2)}};
        m_remote->SchedulePush();
    });
    connect(this, &TfrmMain::CaptionCleared, m_remote, [this] {
        m_remote->m_caption = QJsonValue::Null;
        m_remote->SchedulePush();
    });
    // The overlay pages show what the overlay files hold, as soon as they hold it.
    connect(this, &TfrmMain::OverlayTextWritten, m_remote,
            [this](const QString& file, const QString& text) {
                // Nothing else shows these texts: without event clients there is
                // nothing to send (the clock would otherwise wake MPRIS every second).
                if (m_remote->m_overlay.Set(file, text) && m_remote->m_server.EventClients() > 0)
                    m_remote->SchedulePush();
            });
    for (QToolButton* b : {cmdRepeat, cmdStopOnPlay})
        connect(b, &QToolButton::toggled, m_remote, [this] { m_remote->SchedulePush(); });
    // Edits of the playlist move the markers: the clients and MPRIS follow.
    connect(lstPlayList, &TListView::OnDeletion, m_remote, [link] { link->SchedulePush(); });
    connect(lstPlayList, &TListView::OnMoved, m_remote, [link] { link->SchedulePush(); });
    connect(lstPlayList, &TListView::OnRowsInserted, m_remote, [link] { link->SchedulePush(); });

    // MPRIS on the session bus, when there is one (never started on demand).
    QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const QString runtimeBus = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    if (address.isEmpty() && !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") &&
        QFileInfo::exists(runtimeBus))
        address = QStringLiteral("unix:path=") + runtimeBus;
    // The bus is never waited for on the window's thread: a bus that does not
    // answer within 5 s leaves the desk without MPRIS and one line in debug.txt.
    if (!address.isEmpty())
        m_remote->m_mpris.RegisterAsync(
            address, 5000, [this](const QString& error) { RecordStartUpError(error); });
}

void TfrmMain::LoadRemoteConfig(const TIniDocument& ini) {
    const RemoteSettings s = LoadRemoteSettings(ini);
    const QSignalBlocker b1(chkRemoto), b2(spnRemotoPuerto), b3(txtRemotoIP), b4(txtRemotoToken);
    chkRemoto->setChecked(s.enabled);
    spnRemotoPuerto->setValue(s.port);
    txtRemotoIP->setText(s.bind);
    txtRemotoToken->setText(s.token);
    // The server starts once the window runs, whatever the rest of the start-up does.
    if (s.enabled)
        QTimer::singleShot(0, this, [this] { Guard([&] { ApplyRemoteSettings(); }); });
}

void TfrmMain::SaveRemoteConfig(TIniDocument& ini) const {
    SaveRemoteSettings(ini, RemoteSettingsFromControls());
}

RemoteSettings TfrmMain::RemoteSettingsFromControls() const {
    RemoteSettings s;
    s.enabled = chkRemoto->isChecked();
    s.port = spnRemotoPuerto->value();
    s.bind = txtRemotoIP->text().trimmed();
    s.token = txtRemotoToken->text();
    return s;
}

void TfrmMain::ApplyRemoteSettings() {
    const RemoteSettings s = RemoteSettingsFromControls();
    if (!s.enabled) {
        m_remote->StopServer();
        chkRemoto->setToolTip(QString());
        return;
    }
    RemoteServerConfig config;
    QString error;
    if (!RemoteServerConfigFor(s, config, &error) || !m_remote->Start(config, &error)) {
        // A port held by another program is retried by the server on its own; told once.
        if (!m_remote->m_server.IsStarted())
            m_remote->StopServer();
        chkRemoto->setToolTip(error);
        throw TavoriaError(error);
    }
    ShowRemoteAddress();
}

void TfrmMain::ShowRemoteAddress() {
    const QHostAddress bind = m_remote->m_server.Address();
    const QString host = bind.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(bind.toString())
                             : bind.toString();
    chkRemoto->setToolTip(QStringLiteral("http://%1:%2/").arg(host).arg(m_remote->m_server.Port()));
}

bool TfrmMain::StartRemoteServer(const RemoteServerConfig& config, QString* error) {
    return m_remote->Start(config, error);
}

RemoteServer* TfrmMain::Remote() const {
    return &m_remote->m_server;
}

MprisService* TfrmMain::Mpris() const {
    return &m_remote->m_mpris;
}
