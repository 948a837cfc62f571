// The clock, the countdown and the marquee: the overlay files written every
// second and the one the operator sends.
#include "app/CaptionLogic.h"
#include "app/Countdown.h"
#include "app/TfrmMain.h"
#include "media/MediaFunctions.h"
#include "media/TIniDocument.h"
#include "media/TavoriaError.h"
#include "media/TextFile.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimeEdit>
#include <QToolButton>
#include <limits>

// The clock and countdown files are rewritten every second and are stale a second
// later: they are replaced atomically but not flushed to the disk, so a slow disk
// never holds up the window. The marquee, which is read back at start-up, is.

namespace {
const QString kStart = QStringLiteral("Iniciar");
const QString kStop = QStringLiteral("Detener");
} // namespace

void TfrmMain::WireClock() {
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler](auto&&...) { Guard([&] { handler(); }); });
    };
    txtMensajeConteo->setMaxLength(std::numeric_limits<int>::max());
    // tmrHora is wired with the transport; the countdown ticks right after it.
    on(tmrRegresivo, &TSecondTimer::timeout, [this] { tmrRegresivoTimer(); });
    on(btnPlayConteo, &QPushButton::clicked, [this] { btnPlayConteoClick(); });
    on(btnSendMarquesina, &QToolButton::clicked, [this] { btnSendMarquesinaClick(); });
}

void TfrmMain::tmrHoraTimer() {
    // One reading of the clock for the label and the file, so they never differ.
    const QString now = ClockText(m_beat->Now());
    lblHora->setText(now);
    m_clockFailure.Run([&] {
        WriteTextFile(now, OutputPath(txtCurrentSong->text(), QStringLiteral("hora.txt")),
                      FileSync::Transient);
        emit OverlayTextWritten(QStringLiteral("hora.txt"), now);
    });
}

void TfrmMain::btnPlayConteoClick() {
    if (btnPlayConteo->text() == kStart) {
        if (!CountdownCanStart(spnCronoRegresivo->time()))
            return;
        // A new run reports its first failure again.
        m_countdownFailure.Reset();
        tmrRegresivo->start();
        btnPlayConteo->setText(kStop);
    } else {
        tmrRegresivo->stop();
        btnPlayConteo->setText(kStart);
    }
}

void TfrmMain::tmrRegresivoTimer() {
    const CountdownStep step = CountdownTick(spnCronoRegresivo->time());
    spnCronoRegresivo->setTime(step.remaining);
    // At the end the countdown stops before anything is written, so a failed write
    // cannot leave it running past zero.
    if (step.finished) {
        tmrRegresivo->stop();
        btnPlayConteo->setText(kStart);
    }
    m_countdownFailure.Run([&] {
        WriteTextFile(step.text, OutputPath(txtCurrentSong->text(), QStringLiteral("conteo.txt")),
                      FileSync::Transient);
        emit OverlayTextWritten(QStringLiteral("conteo.txt"), step.text);
        if (step.finished) {
            const QString message = txtMensajeConteo->text();
            WriteTextFile(message, OutputPath(txtCurrentSong->text(), QStringLiteral("conteo.txt")),
                          FileSync::Transient);
            emit OverlayTextWritten(QStringLiteral("conteo.txt"), message);
        }
    });
}

void TfrmMain::btnSendMarquesinaClick() {
    const QString marquee = MarqueeFileText(txtMarquesina->toPlainText());
    WriteTextFile(marquee, OutputPath(txtCurrentSong->text(), QStringLiteral("marquesina.txt")));
    emit OverlayTextWritten(QStringLiteral("marquesina.txt"), marquee);
    // Then config.ini: at once, or within a second when it was written less than a
    // second ago.
    m_marqueeSave->Request();
}
