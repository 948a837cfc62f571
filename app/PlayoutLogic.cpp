#include "app/PlayoutLogic.h"

#include <QDir>
#include <QFileInfo>
#include <QTime>
#include <QUrl>

PlayOptions BuildPlayOptions(const QString& path, bool udp, const QString& udpTarget,
                             const QString& workDir) {
    PlayOptions result;
    if (udp)
        result.options << QStringLiteral(":sout=#udp{dst=") + udpTarget + QLatin1Char('}');
    const QFileInfo file(path);
    if (file.isFile() && path.endsWith(QStringLiteral(".mp3"))) {
        const QString folder = file.absolutePath() + QDir::separator();
        QString cover = folder + QStringLiteral("cover.png");
        if (!QFileInfo::exists(cover))
            cover = folder + QStringLiteral("cover.jpg");
        if (!QFileInfo::exists(cover))
            cover = QStringLiteral("cover.png");
        const QString absolute = QDir(workDir).absoluteFilePath(cover);
        if (QFileInfo(absolute).isFile()) {
            result.options << QStringLiteral(":input-slave=") +
                                  QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded);
            result.cover = cover;
        }
        result.status = cover;
    }
    return result;
}

int RowToPlay(int nextIndex, int rowCount) {
    if (rowCount <= 0)
        return -1;
    return nextIndex >= 0 && nextIndex < rowCount ? nextIndex : 0;
}

int NextIndexAfter(int current, int rowCount, int repeatFrom) {
    return current < rowCount - 1 ? current + 1 : repeatFrom - 1;
}

EndOfMediaPlan PlanEndOfMedia(bool mediaPlayed, bool announceBetween, bool repeatDown,
                              bool stopAfterDown, bool topSubtitle) {
    EndOfMediaPlan plan;
    if (!mediaPlayed)
        return plan;
    plan.act = true;
    plan.announce = announceBetween;
    plan.repeat = repeatDown;
    plan.next = !stopAfterDown;
    plan.firstCaption = topSubtitle;
    return plan;
}

QTime EndTimeOf(qint64 lengthMs, const QTime& now) {
    const qint64 seconds = lengthMs < 0 ? 0 : (lengthMs / 1000) % 86400;
    return now.addSecs(int(seconds));
}

QString EndTimeText(const QTime& end) {
    return QStringLiteral("Termina a las: ") + end.toString(QStringLiteral("HH:mm:ss"));
}

QString EndTimeText(qint64 lengthMs, const QTime& now) {
    return EndTimeText(EndTimeOf(lengthMs, now));
}

QSize ResolutionSize(const QString& itemName) {
    if (itemName == QStringLiteral("N240p1"))
        return {426, 240};
    if (itemName == QStringLiteral("N480p1"))
        return {854, 480};
    if (itemName == QStringLiteral("N720p1"))
        return {1280, 720};
    if (itemName == QStringLiteral("N1080p1"))
        return {1920, 1080};
    return {};
}
