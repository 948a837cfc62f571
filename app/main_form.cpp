// The window's controls: names, captions, hints, ranges and defaults, and their
// arrangement. Behaviour is wired in WireHandlers and the other main_*.cpp files.
#include "app/Icons.h"
#include "app/TfrmMain.h"
#include "player/VlcPlayerUnit.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimeEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

template <typename T> T* Named(T* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QLabel* Caption(const QString& text, QWidget* parent, bool bold = false) {
    auto* l = new QLabel(text, parent);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

QSlider* TrackBar(QWidget* parent, const char* name, Qt::Orientation o, int min, int max, int pos) {
    auto* s = Named(new QSlider(o, parent), name);
    s->setRange(min, max);
    s->setValue(pos);
    // A vertical track bar has its minimum at the top.
    if (o == Qt::Vertical)
        s->setInvertedAppearance(true);
    return s;
}

QToolButton* ToolButton(QWidget* parent, const char* name, const QString& hint, const QIcon& icon,
                        bool checkable = false) {
    auto* b = Named(new QToolButton(parent), name);
    b->setToolTip(hint);
    b->setIcon(icon);
    b->setIconSize(QSize(40, 40));
    b->setCheckable(checkable);
    b->setAutoRaise(true);
    return b;
}

TListView* ListView(QWidget* parent, const char* name, const QStringList& columns,
                    const QList<int>& widths, const TImageList* images) {
    auto* lv = Named(new TListView(parent), name);
    lv->setColumnCount(int(columns.size()));
    lv->setHeaderLabels(columns);
    // Some columns are meant to be 1 px wide (path, seconds): Qt's default minimum
    // section would widen them and push the columns after them out of sight.
    lv->header()->setMinimumSectionSize(1);
    for (int i = 0; i < widths.size(); ++i)
        lv->setColumnWidth(i, widths[i]);
    // The caption column is hidden in every list of the desk.
    lv->setColumnHidden(0, true);
    lv->SetSmallImages(images);
    lv->setIconSize(QSize(16, 16));
    return lv;
}

} // namespace

void TfrmMain::BuildForm() {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tavoria 3.2 (beta)"));
    setWindowIcon(AppIcon());
    setMinimumSize(1100, 650);
    resize(1176, 591 + 22 + 24);
    move(686, 309);
    // The design position is for a large screen: keep the whole window visible.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        if (!avail.contains(QRect(QPoint(686, 309), size())))
            move(std::max(avail.left(), avail.left() + (avail.width() - width()) / 2),
                 std::max(avail.top(), avail.top() + (avail.height() - height()) / 2));
    }
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    setFont(font);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(pal);
    setAcceptDrops(true);

    imgControls = MakeImgControls();
    icons16 = MakeIcons16();
    Icons48 = MakeIcons48();

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("frmMainClient"));
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(4);
    BuildTopBar(central);
    outer->addWidget(ToolBar1);
    auto* columns = new QHBoxLayout();
    columns->setContentsMargins(7, 0, 7, 0);
    columns->setSpacing(6);
    columns->addWidget(BuildLeftColumn(central), 1);
    columns->addWidget(BuildCentreColumn(central), 0);
    columns->addWidget(BuildRightColumn(central), 0);
    outer->addLayout(columns, 1);
    BuildHidden(central);

    barStatus = Named(new TStatusBar(this), "barStatus");
    setStatusBar(barStatus);
    BuildMenus();
    BuildTimers();
}

void TfrmMain::BuildTopBar(QWidget* parent) {
    ToolBar1 = Named(new QWidget(parent), "ToolBar1");
    ToolBar1->setFixedHeight(56);
    ToolBar1->setAutoFillBackground(true);
    ToolBar1->setStyleSheet(QStringLiteral(
        "#ToolBar1 { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 white, "
        "stop:1 silver); }"));
    auto* row = new QHBoxLayout(ToolBar1);
    row->setContentsMargins(4, 2, 4, 2);

    btnSendMarquesina = Named(new QToolButton(ToolBar1), "btnSendMarquesina");
    btnSendMarquesina->setText(QStringLiteral("Enviar Marquesina"));
    btnSendMarquesina->setToolTip(QStringLiteral("Enviar cambios de Marquesina"));
    btnSendMarquesina->setIcon(Icons48.Icon(0));
    btnSendMarquesina->setIconSize(QSize(32, 32));
    btnSendMarquesina->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    btnSendMarquesina->setAutoRaise(true);
    row->addWidget(btnSendMarquesina);

    GroupBox1 = Named(new QGroupBox(ToolBar1), "GroupBox1");
    auto* g1 = new QHBoxLayout(GroupBox1);
    g1->setContentsMargins(4, 2, 4, 2);
    txtPonente = Named(new QLineEdit(GroupBox1), "txtPonente");
    txtPonente->setToolTip(QStringLiteral("Ponente"));
    txtPonente->setPlaceholderText(QStringLiteral("Ponente"));
    txtPonencia = Named(new QLineEdit(GroupBox1), "txtPonencia");
    txtPonencia->setToolTip(QStringLiteral("Ponencia"));
    txtPonencia->setPlaceholderText(QStringLiteral("Ponencia"));
    txtDetalles = Named(new QLineEdit(GroupBox1), "txtDetalles");
    txtDetalles->setToolTip(QStringLiteral("Detalles"));
    txtDetalles->setPlaceholderText(QStringLiteral("Detalles"));
    cmdAdd = Named(new QPushButton(QStringLiteral("Add"), GroupBox1), "cmdAdd");
    g1->addWidget(txtPonente, 2);
    g1->addWidget(txtPonencia, 3);
    g1->addWidget(txtDetalles, 2);
    g1->addWidget(cmdAdd);
    row->addWidget(GroupBox1, 1);

    GroupBox3 = Named(new QGroupBox(ToolBar1), "GroupBox3");
    auto* g3 = new QHBoxLayout(GroupBox3);
    g3->setContentsMargins(4, 2, 4, 2);
    g3->addWidget(Caption(QStringLiteral("Conteo Regresivo: "), GroupBox3));
    spnCronoRegresivo = Named(new QTimeEdit(GroupBox3), "spnCronoRegresivo");
    spnCronoRegresivo->setDisplayFormat(QStringLiteral("mm:ss"));
    spnCronoRegresivo->setTime(QTime(0, 5, 0));
    g3->addWidget(spnCronoRegresivo);
    btnPlayConteo = Named(new QPushButton(QStringLiteral("Iniciar"), GroupBox3), "btnPlayConteo");
    g3->addWidget(btnPlayConteo);
    txtMensajeConteo = Named(new QLineEdit(GroupBox3), "txtMensajeConteo");
    txtMensajeConteo->setText(QStringLiteral("Bienvenidos al Programa..."));
    txtMensajeConteo->setToolTip(QStringLiteral("Mensaje al final del conteo"));
    g3->addWidget(txtMensajeConteo);
    row->addWidget(GroupBox3);
}

QWidget* TfrmMain::BuildLeftColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    column->setObjectName(QStringLiteral("LeftColumn"));
    column->setMinimumWidth(200);
    auto* v = new QVBoxLayout(column);
    v->setContentsMargins(0, 0, 0, 0);

    pgExplorerSubtitler = Named(new QTabWidget(column), "pgExplorerSubtitler");
    tabSubtitler = Named(new QWidget(), "tabSubtitler");
    auto* vs = new QVBoxLayout(tabSubtitler);
    vs->setContentsMargins(2, 2, 2, 2);
    lstTextos = ListView(tabSubtitler, "lstTextos",
                         {QString(), QStringLiteral("Nombre del Ponente"),
                          QStringLiteral("Tema de Ponencia"), QStringLiteral("Detalles")},
                         {0, 200, 320, 100}, &icons16);
    lstTextos->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstTextos->setDragEnabled(true);
    lstTextos->setContextMenuPolicy(Qt::CustomContextMenu);
    // Column widths follow the list's width (lstTextosResize), down to 0.
    lstTextos->header()->setMinimumSectionSize(0);
    vs->addWidget(lstTextos);
    pgExplorerSubtitler->addTab(tabSubtitler, QStringLiteral("Subtitulador"));

    tabExplorer = Named(new QWidget(), "tabExplorer");
    auto* ve = new QVBoxLayout(tabExplorer);
    ve->setContentsMargins(2, 2, 2, 2);
    lstExplorer = Named(new TExplorerTree(tabExplorer), "lstExplorer");
    lstExplorer->setHeaderHidden(true);
    lstExplorer->setIndentation(17);
    lstExplorer->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstExplorer->setDragEnabled(true);
    lstExplorer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ve->addWidget(lstExplorer);
    pgExplorerSubtitler->addTab(tabExplorer, QStringLiteral("Explorador de Archivos"));

    tabNotas = Named(new QWidget(), "tabNotas");
    auto* vn = new QVBoxLayout(tabNotas);
    vn->setContentsMargins(2, 2, 2, 2);
    txtMarquesina = Named(new QTextEdit(tabNotas), "txtMarquesina");
    txtMarquesina->setToolTip(QStringLiteral("Marquesina"));
    txtMarquesina->setAcceptRichText(false);
    txtMarquesina->setFixedHeight(70);
    txtApuntes = Named(new QTextEdit(tabNotas), "txtApuntes");
    txtApuntes->setToolTip(QStringLiteral("Apuntes"));
    txtApuntes->setAcceptRichText(false);
    vn->addWidget(txtMarquesina);
    vn->addWidget(txtApuntes, 1);
    pgExplorerSubtitler->addTab(tabNotas, QStringLiteral("Notas"));
    v->addWidget(pgExplorerSubtitler, 1);

    progreso = Named(new QProgressBar(column), "progreso");
    progreso->setRange(0, 100);
    progreso->setValue(0);
    progreso->setTextVisible(false);
    progreso->setFixedHeight(14);
    v->addWidget(progreso);
    return column;
}

QWidget* TfrmMain::BuildCentreColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    column->setObjectName(QStringLiteral("CentreColumn"));
    column->setFixedWidth(441);
    auto* v = new QVBoxLayout(column);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(2);

    PanelMonitor = Named(new QLabel(column), "PanelMonitor");
    PanelMonitor->setFixedSize(440, 256);
    static_cast<QLabel*>(PanelMonitor)->setPixmap(MonitorBackground(QSize(440, 256)));
    vlcPlayer = Named(new TVlcPlayer(PanelMonitor), "vlcPlayer");
    vlcPlayer->setGeometry(7, 7, 426, 242);
    vlcPlayer->SetVideoOnTop(true);
    vlcPlayer->SetUseOverlay(true);
    v->addWidget(PanelMonitor);

    ProgBar = Named(new QSlider(Qt::Horizontal, column), "ProgBar");
    ProgBar->setRange(0, 3000);
    ProgBar->setTickPosition(QSlider::NoTicks);
    ProgBar->setFocusPolicy(Qt::NoFocus);
    v->addWidget(ProgBar);

    auto* labels = new QHBoxLayout();
    auto timeLabel = [&](const char* name, const QString& hint) {
        auto* l = Named(Caption(QStringLiteral("00:00:00"), column, true), name);
        l->setToolTip(hint);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(0, 102, 204));
        l->setPalette(p);
        return l;
    };
    lblEndTime = timeLabel("lblEndTime", QStringLiteral("Termina a las:"));
    lblEndTime->setFixedWidth(305 - 120);
    lblRestante = timeLabel("lblRestante", QString());
    lblRestante->setAlignment(Qt::AlignCenter);
    lblDuracion = timeLabel("lblDuracion", QStringLiteral("Duracion"));
    lblDuracion->setAlignment(Qt::AlignCenter);
    labels->addWidget(lblEndTime);
    labels->addWidget(lblRestante, 1);
    labels->addWidget(lblDuracion, 1);
    v->addLayout(labels);

    tlbControles = Named(new QWidget(column), "tlbControles");
    auto* t = new QHBoxLayout(tlbControles);
    t->setContentsMargins(0, 0, 0, 0);
    t->setSpacing(1);
    cmdPlayPause =
        ToolButton(tlbControles, "cmdPlayPause", QStringLiteral("Play/Pause"), imgControls.Icon(1));
    cmdNext = ToolButton(tlbControles, "cmdNext", QStringLiteral("Next"), imgControls.Icon(3));
    cmdStop = ToolButton(tlbControles, "cmdStop", QStringLiteral("Stop"), imgControls.Icon(0));
    cmdStopOnPlay =
        ToolButton(tlbControles, "cmdStopOnPlay", QStringLiteral("Parar Despues de esta Canción"),
                   imgControls.Icon(6), true);
    lblHora = Named(new TClickLabel(QStringLiteral("00:00:00"), tlbControles), "lblHora");
    {
        QFont f = lblHora->font();
        f.setBold(true);
        f.setPointSize(14);
        lblHora->setFont(f);
    }
    lblHora->setCursor(Qt::PointingHandCursor);
    lblHora->setAlignment(Qt::AlignCenter);
    auto* separator = new QFrame(tlbControles);
    separator->setFrameShape(QFrame::VLine);
    cmdRepeat =
        ToolButton(tlbControles, "cmdRepeat", QStringLiteral("Repeat"), imgControls.Icon(4), true);
    cmdPisador = ToolButton(tlbControles, "cmdPisador", QStringLiteral("Pisador"),
                            imgControls.Icon(5), true);
    for (QWidget* w : {static_cast<QWidget*>(cmdPlayPause), static_cast<QWidget*>(cmdNext),
                       static_cast<QWidget*>(cmdStop), static_cast<QWidget*>(cmdStopOnPlay)})
        t->addWidget(w);
    t->addWidget(lblHora, 1);
    t->addWidget(separator);
    t->addWidget(cmdRepeat);
    t->addWidget(cmdPisador);
    v->addWidget(tlbControles);

    lstPlayList =
        ListView(column, "lstPlayList",
                 {QString(), QStringLiteral("Nombre"), QStringLiteral("Duracion"),
                  QStringLiteral("Ruta"), QStringLiteral("Segundos"), QStringLiteral("lowerthird")},
                 {1, 330, 70, 1, 1, 20}, &icons16);
    lstPlayList->setProperty("childOrder", 1);
    lstPlayList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstPlayList->setDragEnabled(true);
    lstPlayList->setAcceptDrops(true);
    lstPlayList->viewport()->setAcceptDrops(true);
    lstPlayList->setDropIndicatorShown(true);
    lstPlayList->setContextMenuPolicy(Qt::CustomContextMenu);
    {
        QPalette p = lstPlayList->palette();
        p.setColor(QPalette::Base, QColor(192, 192, 192));
        p.setColor(QPalette::Inactive, QPalette::Highlight,
                   p.color(QPalette::Active, QPalette::Highlight));
        p.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   p.color(QPalette::Active, QPalette::HighlightedText));
        lstPlayList->setPalette(p);
    }
    v->addWidget(lstPlayList, 1);

    txtAddUrl = Named(new QLineEdit(column), "txtAddUrl");
    txtAddUrl->setPlaceholderText(QStringLiteral("http://servidor/ruta/archivo.mp4"));
    v->addWidget(txtAddUrl);

    auto* repeatRow = new QHBoxLayout();
    Label11 = Named(Caption(QStringLiteral("Repetir desde:"), column, true), "Label11");
    txtRepeat = Named(new QSpinBox(column), "txtRepeat");
    txtRepeat->setRange(1, 20);
    txtRepeat->setValue(3);
    repeatRow->addWidget(Label11);
    repeatRow->addWidget(txtRepeat);
    repeatRow->addStretch(1);
    v->addLayout(repeatRow);
    return column;
}

QWidget* TfrmMain::BuildRightColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    column->setObjectName(QStringLiteral("RightColumn"));
    column->setFixedWidth(444);
    auto* v = new QVBoxLayout(column);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(2);

    auto* top = new QHBoxLayout();
    PageControl1 = Named(new QTabWidget(column), "PageControl1");
    PageControl1->setFixedHeight(190);

    // "Controles": volume, ducking, picture adjustment and effects volume.
    tabControles = Named(new QLabel(), "tabControles");
    static_cast<QLabel*>(tabControles)->setPixmap(ControlsBackground(QSize(400, 170)));
    static_cast<QLabel*>(tabControles)->setScaledContents(true);
    {
        auto* g = new QGridLayout(tabControles);
        g->setContentsMargins(6, 4, 6, 4);
        g->addWidget(Caption(QStringLiteral("VOLUMEN"), tabControles, true), 0, 0, 1, 2,
                     Qt::AlignCenter);
        volPrincipal = TrackBar(tabControles, "volPrincipal", Qt::Vertical, 1, 100, 1);
        volPisador = TrackBar(tabControles, "volPisador", Qt::Vertical, 1, 98, 75);
        tbCue = TrackBar(tabControles, "tbCue", Qt::Vertical, 1, 100, 1);
        g->addWidget(volPrincipal, 1, 0, Qt::AlignHCenter);
        g->addWidget(volPisador, 1, 1, Qt::AlignHCenter);
        g->addWidget(Caption(QStringLiteral("OnAir"), tabControles), 2, 0, Qt::AlignCenter);
        g->addWidget(Caption(QStringLiteral("Pisador"), tabControles), 2, 1, Qt::AlignCenter);
        auto* adjust = new QVBoxLayout();
        chkVideoAdjustEnable =
            Named(new QCheckBox(QStringLiteral("EFECTOS DE VIDEO"), tabControles),
                  "chkVideoAdjustEnable");
        adjust->addWidget(chkVideoAdjustEnable);
        volBass = TrackBar(tabControles, "volBass", Qt::Horizontal, 0, 200, 100);
        volMid = TrackBar(tabControles, "volMid", Qt::Horizontal, 0, 200, 100);
        volTreble = TrackBar(tabControles, "volTreble", Qt::Horizontal, 0, 300, 100);
        for (auto [slider, text] : {std::pair{volBass, "Brillo"}, std::pair{volMid, "Contraste"},
                                    std::pair{volTreble, "Color"}}) {
            slider->setEnabled(false);
            adjust->addWidget(Caption(QString::fromUtf8(text), tabControles));
            adjust->addWidget(slider);
        }
        g->addLayout(adjust, 0, 2, 3, 1);
        g->addWidget(tbCue, 1, 3, Qt::AlignHCenter);
        g->addWidget(Caption(QStringLiteral("Efectos"), tabControles), 2, 3, Qt::AlignCenter);
        g->setColumnStretch(2, 1);
    }
    PageControl1->addTab(tabControles, QStringLiteral("Controles"));

    // "Configuración de Sonido": the two sound cards and the time announcer.
    tabSonido = Named(new QWidget(), "tabSonido");
    {
        auto* vs = new QVBoxLayout(tabSonido);
        auto* cards = new QGroupBox(QStringLiteral("Tarjeta de Sonido"), tabSonido);
        cards->setObjectName(QStringLiteral("grpTarjeta"));
        auto* g = new QGridLayout(cards);
        cboSoundMain = Named(new QComboBox(cards), "cboSoundMain");
        cboSoundCue = Named(new QComboBox(cards), "cboSoundCue");
        g->addWidget(Caption(QStringLiteral("On Air"), cards), 0, 0);
        g->addWidget(cboSoundMain, 0, 1);
        g->addWidget(Caption(QStringLiteral("Efectos"), cards), 1, 0);
        g->addWidget(cboSoundCue, 1, 1);
        g->setColumnStretch(1, 1);
        vs->addWidget(cards);
        auto* announcer = new QGroupBox(QStringLiteral("Locutor de Hora"), tabSonido);
        announcer->setObjectName(QStringLiteral("grpLocutor"));
        auto* h = new QHBoxLayout(announcer);
        cboHoras = Named(new QComboBox(announcer), "cboHoras");
        chkHoraPistas = Named(new QCheckBox(QStringLiteral("Reproducir Entre Pistas"), announcer),
                              "chkHoraPistas");
        h->addWidget(cboHoras, 1);
        h->addWidget(chkHoraPistas);
        vs->addWidget(announcer);
        lblSoundInput =
            Named(Caption(QStringLiteral("Entrada de Micrófono"), tabSonido), "lblSoundInput");
        cboSoundInput = Named(new QComboBox(tabSonido), "cboSoundInput");
        lblSoundInput->hide();
        cboSoundInput->hide();
        vs->addStretch(1);
    }
    PageControl1->addTab(tabSonido, QStringLiteral("Configuración de Sonido"));

    // "Configuración General": folders, network outputs, caption option.
    tabGeneral = Named(new QWidget(), "tabGeneral");
    {
        auto* g = new QGridLayout(tabGeneral);
        g->setVerticalSpacing(2);
        auto folderRow = [&](int r, const QString& label, QLineEdit*& edit, const char* editName,
                             QPushButton*& button, const char* buttonName) {
            edit = Named(new QLineEdit(tabGeneral), editName);
            edit->setReadOnly(true);
            button = Named(new QPushButton(QStringLiteral("..."), tabGeneral), buttonName);
            button->setFixedWidth(28);
            g->addWidget(Caption(label, tabGeneral), r, 0);
            g->addWidget(edit, r, 1);
            g->addWidget(button, r, 2);
        };
        folderRow(0, QStringLiteral("CurrentSong Folder"), txtCurrentSong, "txtCurrentSong",
                  cmdCurrentFolder, "cmdCurrentFolder");
        folderRow(1, QStringLiteral("Carpeta de Cuñas y Efectos"), txtFolderCunas, "txtFolderCunas",
                  cmdSetCunas, "cmdSetCunas");
        folderRow(2, QStringLiteral("Raíz del Explorador"), txtRootFolder, "txtRootFolder",
                  cmdRootExplorador, "cmdRootExplorador");
        chkNDI = Named(
            new QCheckBox(QStringLiteral("Transmitir por NDI (Es necesario Reiniciar el programa)"),
                          tabGeneral),
            "chkNDI");
        g->addWidget(chkNDI, 3, 0, 1, 3);
        chkUdp = Named(new QCheckBox(QStringLiteral("Transmitir por UDP"), tabGeneral), "chkUdp");
        txtUdp = Named(new QLineEdit(QStringLiteral("127.0.0.1:9010"), tabGeneral), "txtUdp");
        g->addWidget(chkUdp, 4, 0);
        g->addWidget(txtUdp, 4, 1, 1, 2);
        chkTopSubtitle =
            Named(new QCheckBox(QStringLiteral("Volver al primer subtítulo finalizando pista"),
                                tabGeneral),
                  "chkTopSubtitle");
        g->addWidget(chkTopSubtitle, 5, 0, 1, 3);
        chkSaltarError = Named(new QCheckBox(QStringLiteral("Saltar pistas con error"), tabGeneral),
                               "chkSaltarError");
        chkSaltarError->setToolTip(
            QStringLiteral("Si una pista no se puede reproducir, la lista sigue con la siguiente"));
        g->addWidget(chkSaltarError, 6, 0, 1, 3);
        g->setColumnStretch(1, 1);
        g->setRowStretch(7, 1);
    }
    PageControl1->addTab(tabGeneral, QStringLiteral("Configuración General"));
    top->addWidget(PageControl1, 1);

    auto gauge = [&](const char* name) {
        auto* b = Named(new QProgressBar(column), name);
        b->setOrientation(Qt::Vertical);
        b->setRange(0, 100);
        b->setValue(0);
        b->setTextVisible(false);
        b->setFixedWidth(10);
        return b;
    };
    ledL = gauge("ledL");
    ledR = gauge("ledR");
    top->addWidget(ledL);
    top->addWidget(ledR);
    v->addLayout(top);

    lstEventos = ListView(column, "lstEventos",
                          {QStringLiteral("icon"), QStringLiteral("Evento"), QStringLiteral("Hora"),
                           QStringLiteral("Prioridad")},
                          {0, 250, 80, 80}, &icons16);
    lstEventos->setProperty("childOrder", 2);
    lstEventos->setFixedHeight(90);
    v->addWidget(lstEventos);

    auto* cueRow = new QHBoxLayout();
    cueRow->addWidget(Caption(QStringLiteral("Efectos"), column, true));
    trkCuePosition = Named(new TSelectionBar(column), "trkCuePosition");
    trkCuePosition->setFixedHeight(12);
    cueRow->addWidget(trkCuePosition, 1);
    cmdStopCue = Named(new QPushButton(QStringLiteral("Stop"), column), "cmdStopCue");
    cueRow->addWidget(cmdStopCue);
    v->addLayout(cueRow);

    lstJingles =
        ListView(column, "lstJingles",
                 {QStringLiteral("icon"), QStringLiteral("Nombre"), QStringLiteral("Duración"),
                  QStringLiteral("Ruta"), QStringLiteral("Segundos")},
                 {0, 350, 70, 0, 0}, &icons16);
    lstJingles->setProperty("childOrder", 0);
    lstJingles->setColumnHidden(3, true);
    lstJingles->setColumnHidden(4, true);
    lstJingles->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    lstJingles->setSelectionMode(QAbstractItemView::SingleSelection);
    v->addWidget(lstJingles, 1);

    tabEfectos = Named(new TTabStrip(column), "tabEfectos");
    v->addWidget(tabEfectos);
    return column;
}

void TfrmMain::BuildHidden(QWidget* parent) {
    panAuxiliar = Named(new QWidget(parent), "panAuxiliar");
    auto* v = new QVBoxLayout(panAuxiliar);
    lstAuxPlayList = ListView(panAuxiliar, "lstAuxPlayList",
                              {QString(), QStringLiteral("Nombre"), QStringLiteral("Duracion"),
                               QStringLiteral("Ruta"), QStringLiteral("Segundos")},
                              {1, 200, 70, 1, 1}, &icons16);
    v->addWidget(lstAuxPlayList);
    v->addWidget(Named(new QPushButton(QStringLiteral("Agregar"), panAuxiliar), "cmdAuxAdd"));
    v->addWidget(Named(new QPushButton(QStringLiteral("Quitar"), panAuxiliar), "cmdAuxDelete"));
    panAuxiliar->hide();

    lblSiguiente = Named(new QLabel(parent), "lblSiguiente");
    lblSiguiente->hide();
    txtFader = Named(new QSpinBox(parent), "txtFader");
    txtFader->hide();
    Named(new QLabel(QStringLiteral("Fader"), parent), "lblFader")->hide();
    Named(new QLabel(QStringLiteral("ms"), parent), "lblFaderMs")->hide();
    ctrlLocutor = Named(new QLineEdit(parent), "ctrlLocutor");
    ctrlLocutor->hide();
}

void TfrmMain::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("mnMain"));
    mnListaReproduccion =
        Named(bar->addMenu(QStringLiteral("Lista de Reproducción")), "mnListaReproduccion");
    Nuevo1 =
        Named(mnListaReproduccion->addAction(icons16.Icon(18), QStringLiteral("Limpiar Lista")),
              "Nuevo1");
    mnListaReproduccion->addSeparator();
    Abrir1 =
        Named(mnListaReproduccion->addAction(icons16.Icon(17), QStringLiteral("Importar Lista")),
              "Abrir1");
    GuardarComo1 =
        Named(mnListaReproduccion->addAction(icons16.Icon(19), QStringLiteral("Exportar Lista")),
              "GuardarComo1");
    mnListaReproduccion->addSeparator();
    Salir1 =
        Named(mnListaReproduccion->addAction(icons16.Icon(10), QStringLiteral("Salir")), "Salir1");

    mnResolucion = Named(bar->addMenu(QStringLiteral("Resolución de Salida")), "mnResolucion");
    grpResolucion = new QActionGroup(this);
    grpResolucion->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    auto res = [&](const char* name, const QString& text) {
        QAction* a = Named(mnResolucion->addAction(text), name);
        a->setCheckable(true);
        grpResolucion->addAction(a);
        return a;
    };
    N240p1 = res("N240p1", QStringLiteral("240p"));
    N480p1 = res("N480p1", QStringLiteral("480p"));
    N720p1 = res("N720p1", QStringLiteral("720p"));
    N1080p1 = res("N1080p1", QStringLiteral("1080p"));
    N720p1->setChecked(true);

    subMenuLista = Named(new QMenu(this), "subMenuLista");
    sbmSendMesage =
        Named(subMenuLista->addAction(icons16.Icon(4), QStringLiteral("Enviar Subtítulo")),
              "sbmSendMesage");
    subMenuLista->setDefaultAction(sbmSendMesage);
    // Next to sending: taking the caption off air.
    sbmTitOffAir =
        Named(subMenuLista->addAction(QStringLiteral("Quitar de pantalla")), "sbmTitOffAir");
    subMenuLista->addSeparator();
    sbmTitEdit =
        Named(subMenuLista->addAction(icons16.Icon(14), QStringLiteral("Editar")), "sbmTitEdit");
    sbmTitDelete = Named(subMenuLista->addAction(icons16.Icon(15), QStringLiteral("Eliminar")),
                         "sbmTitDelete");
    sbmTitClear = Named(subMenuLista->addAction(icons16.Icon(16), QStringLiteral("Borrar Todo")),
                        "sbmTitClear");

    smnPlayList = Named(new QMenu(this), "smnPlayList");
    QuitarSubttulo1 =
        Named(smnPlayList->addAction(QStringLiteral("Quitar Subtítulo")), "QuitarSubttulo1");
    splResetLower = Named(smnPlayList->addAction(QStringLiteral("Quitar todos los Subtítulos")),
                          "splResetLower");
}

void TfrmMain::BuildTimers() {
    // The clock and the countdown tick together, just after each second begins.
    m_secondTimerDriver = Named(new TSecondTimerDriver(this), "SecondTimerDriver");
    tmrHora = Named(new TSecondTimer(m_secondTimerDriver, this), "tmrHora");
    tmrVumeter = Named(new QTimer(this), "tmrVumeter");
    tmrVumeter->setInterval(100);
    tmrRegresivo = Named(new TSecondTimer(m_secondTimerDriver, this), "tmrRegresivo");
    tmrRegresivo->SetMinimumFirstTick(500);
}
