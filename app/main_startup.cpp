// Start-up, shutdown, "Salir" and the status bar.
#include "app/ConfigPrefetch.h"
#include "app/CuePlayer.h"
#include "app/TfrmMain.h"
#include "app/TimeAnnouncer.h"
#include "audio/AudioLayer.h"
#include "media/MediaFunctions.h"
#include "media/TIniDocument.h"
#include "media/TavoriaError.h"
#include "media/TextFile.h"
#include "platform/MediaKeys.h"
#include "player/VlcPlayerUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <algorithm>

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent), m_errors(new ErrorReporter(this)), m_cue(new CuePlayer(this)),
      m_announcer(new TimeAnnouncer(this)) {
    PickFolder = [this] { return QFileDialog::getExistingDirectory(this, QString(), QString()); };
    m_marqueeSave = new SaveThrottle(
        1000,
        [this] {
            // The settings and the lists on the window itself (the caption list lies
            // on a tab and is not among them), in one write of config.ini.
            const QStringList refused = WriteConfig(false);
            if (!refused.isEmpty())
                throw TavoriaError(refused.join(QLatin1Char('\n')));
        },
        [this](const std::function<void()>& save) { Guard(save); }, this);
    BuildForm();
    WireHandlers();
    FormCreate();
    tmrHora->start();
    tmrVumeter->start();
    StartMediaKeys();
}

TfrmMain::~TfrmMain() {
    // "Salir" ends here without the shutdown steps: the player goes with the window.
    // A marquee sent in the last second is still saved, as the send promised.
    try {
        m_marqueeSave->Flush();
    } catch (const std::exception& e) {
        RecordStartUpError(ErrorText(e));
    }
    delete vlcPlayer;
    vlcPlayer = nullptr;
}

void TfrmMain::FormCreate() {
    try {
        // 1. Files dropped from a file manager (setAcceptDrops in the form).
        // 2. Sound-card lists.
        FillSoundCardLists();
        // config.ini is read once (by the program's start, ahead, while the window
        // was being built): the list tables and the settings come from it.
        ConfigLoad config = ConfigPrefetch::Take(QStringLiteral("config.ini"));
        // 3. List tables: the caption page first, then the window's own lists.
        for (TListView* lv : CaptionPageListViews())
            FillListTable(lv, config.TakeTable(lv->objectName()));
        for (TListView* lv : DirectListViews())
            FillListTable(lv, config.TakeTable(lv->objectName()));
        // 4. Settings.
        LoadConfig(*config.ini);
        // 5. NDI detection, or the main sound card (which creates the player).
        SetUpOutputsAtStart();
        // 6. The audio layer on the effects card.
        InitEffectsCard();
        // The restored effects tab was listed before the audio layer could measure
        // its files.
        MeasureUnmeasuredRows(lstJingles);
    } catch (const std::exception& e) {
        RecordStartUpError(ErrorText(e));
    }
}

void TfrmMain::RecordStartUpError(const QString& text) {
    std::fprintf(stderr, "tavoria: %s\n", text.toLocal8Bit().constData());
    m_startUpErrors << text;
    try {
        WriteTextFile(m_startUpErrors.join(QLatin1Char('\n')), QStringLiteral("debug.txt"));
    } catch (const std::exception& e2) {
        std::fprintf(stderr, "tavoria: %s\n", ErrorText(e2).toLocal8Bit().constData());
    }
}

void TfrmMain::FillSoundCardLists() {
    // Each entry carries its device number. "No sound" (0) is in the effects list
    // only, so there an entry's index is its device number; "On Air" starts with
    // "Default" (1), and its entry k is device k + 1: entry 1 is the first real card.
    BASS_DEVICEINFO info{};
    for (DWORD n = 0; BASS_GetDeviceInfo(n, &info); ++n) {
        const QString name = QString::fromUtf8(info.name ? info.name : "");
        if (n >= 1)
            cboSoundMain->addItem(name, int(n));
        cboSoundCue->addItem(name, int(n));
    }
    for (DWORD n = 0; BASS_RecordGetDeviceInfo(n, &info); ++n)
        cboSoundInput->addItem(QString::fromUtf8(info.name ? info.name : ""), int(n));
}

void TfrmMain::InitEffectsCard() {
    const int device = cboSoundCue->currentIndex();
    if (BASS_Init(device, 44100, 0, nullptr, nullptr))
        return;
    // A card that is already initialised works: only a card that cannot be used
    // is reported.
    BASS_DEVICEINFO info{};
    if (device >= 0 && BASS_GetDeviceInfo(DWORD(device), &info) && (info.flags & BASS_DEVICE_INIT))
        return;
    m_soundCardFailed = true;
    if (isVisible())
        ShowSoundCardFailure();
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // After the window is on screen, so that the box is never behind it.
    if (m_soundCardFailed)
        QMetaObject::invokeMethod(this, &TfrmMain::ShowSoundCardFailure, Qt::QueuedConnection);
}

void TfrmMain::ShowSoundCardFailure() {
    if (!m_soundCardFailed || !isVisible())
        return;
    m_soundCardFailed = false;
    // Owned by the window and modal to it: it stays in front of the desk and goes
    // with it. open() returns at once, so start-up and the timers run on.
    auto* box = new QMessageBox(QMessageBox::Critical, QApplication::applicationName(),
                                QStringLiteral("No se pudo cargar la tarjeta de Sonido"),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("SoundCardErrorBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (m_exiting) {
        event->accept();
        return;
    }
    bool saved = false;
    Guard([&] {
        FormClose();
        saved = true;
    });
    // A failed save keeps the window open with the error shown, so nothing the
    // operator set up is lost; "Salir" still ends the desk without saving.
    if (saved)
        event->accept();
    else
        event->ignore();
}

void TfrmMain::FormClose() {
    // The settings, then the list tables, into one document written once: a reader
    // (or a crash) never sees a file with only some of them.
    // A cell that cannot be stored costs only itself: the close goes on and the
    // refusal is recorded in debug.txt.
    const QStringList refused = WriteConfig(true);
    m_marqueeSave->Cancel();
    for (const QString& text : refused)
        RecordStartUpError(text);
    if (!refused.isEmpty())
        Errors().Report(refused.join(QLatin1Char('\n')));
    // The window is going: no tick may reach the player after it is released.
    tmrHora->stop();
    tmrVumeter->stop();
    tmrRegresivo->stop();
    if (m_mediaKeys) {
        // Later: this may run inside the handling of a key.
        disconnect(m_mediaKeys, nullptr, this, nullptr);
        m_mediaKeys->deleteLater();
        m_mediaKeys = nullptr;
    }
    delete vlcPlayer;
    vlcPlayer = nullptr;
}

QStringList TfrmMain::WriteConfig(bool captionPage) {
    TIniDocument ini(QStringLiteral("config.ini"));
    ini.SetCollectRefusals(true);
    SaveConfig(ini);
    for (TListView* lv : DirectListViews())
        SaveListTable(lv, ini);
    if (captionPage)
        for (TListView* lv : CaptionPageListViews())
            SaveListTable(lv, ini);
    ini.Update();
    return ini.Refusals();
}

void TfrmMain::Salir1Click() {
    m_exiting = true;
    QCoreApplication::exit(0);
}

void TfrmMain::Mensaje(const QString& text, int panel) {
    if (QLabel* p = barStatus->Panel(panel))
        p->setText(text);
}

void TfrmMain::barStatusResize() {
    barStatus->SetPanel0Width(barStatus->width() - 200);
}

QList<TListView*> TfrmMain::DirectListViews() const {
    // The lists lying on the window itself: not those of the caption page and not
    // the hidden auxiliary panel's. Kept in the window's child order.
    QList<TListView*> result;
    for (TListView* lv : findChildren<TListView*>()) {
        if (tabSubtitler->isAncestorOf(lv) || panAuxiliar->isAncestorOf(lv))
            continue;
        result.push_back(lv);
    }
    std::sort(result.begin(), result.end(), [](TListView* a, TListView* b) {
        return a->property("childOrder").toInt() < b->property("childOrder").toInt();
    });
    return result;
}

QList<TListView*> TfrmMain::CaptionPageListViews() const {
    return tabSubtitler->findChildren<TListView*>();
}
