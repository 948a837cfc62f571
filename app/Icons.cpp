#include "app/Icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

QIcon Draw(int size, const std::function<void(QPainter&, double)>& f) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    f(p, size / 48.0);
    p.end();
    return QIcon(pm);
}

void Triangle(QPainter& p, double s, double x0, double w, QColor c) {
    QPainterPath path;
    path.moveTo(x0 * s, 10 * s);
    path.lineTo((x0 + w) * s, 24 * s);
    path.lineTo(x0 * s, 38 * s);
    path.closeSubpath();
    p.fillPath(path, c);
}

const QColor kDark(40, 40, 48);
const QColor kGreen(30, 150, 60);
const QColor kRed(200, 40, 40);
const QColor kBlue(40, 90, 200);

void Letters(QPainter& p, double s, const QString& text, QColor bg) {
    p.setBrush(bg);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(2 * s, 8 * s, 44 * s, 32 * s), 6 * s, 6 * s);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(int(std::max(6.0, 20 * s)));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 48 * s, 48 * s), Qt::AlignCenter, text);
}

// An arrow over a base line: down for import, up for export.
QIcon Arrow(QColor colour, bool down) {
    return Draw(16, [colour, down](QPainter& p, double s) {
        const double tip = down ? 36 : 6, tail = down ? 6 : 36, wing = down ? 22 : 20;
        p.setPen(QPen(colour, 6 * s));
        p.drawLine(QPointF(24 * s, tail * s), QPointF(24 * s, tip * s));
        p.drawLine(QPointF(12 * s, wing * s), QPointF(24 * s, tip * s));
        p.drawLine(QPointF(36 * s, wing * s), QPointF(24 * s, tip * s));
        p.drawLine(QPointF(8 * s, 42 * s), QPointF(40 * s, 42 * s));
    });
}

} // namespace

TImageList MakeImgControls() {
    TImageList list(QStringLiteral("imgControls"), QSize(48, 48));
    list.Add(Draw(48, [](QPainter& p, double s) { // 0 stop
        p.fillRect(QRectF(12 * s, 12 * s, 24 * s, 24 * s), kRed);
    }));
    list.Add(Draw(48, [](QPainter& p, double s) { Triangle(p, s, 14, 24, kGreen); })); // 1 play
    list.Add(Draw(48, [](QPainter& p, double s) {                                      // 2 pause
        p.fillRect(QRectF(13 * s, 11 * s, 8 * s, 26 * s), kDark);
        p.fillRect(QRectF(27 * s, 11 * s, 8 * s, 26 * s), kDark);
    }));
    list.Add(Draw(48, [](QPainter& p, double s) { // 3 next
        Triangle(p, s, 10, 22, kBlue);
        p.fillRect(QRectF(33 * s, 10 * s, 5 * s, 28 * s), kBlue);
    }));
    list.Add(Draw(48, [](QPainter& p, double s) { // 4 repeat
        p.setPen(QPen(kDark, 4 * s));
        p.drawArc(QRectF(10 * s, 10 * s, 28 * s, 28 * s), 90 * 16, 300 * 16);
        QPainterPath head;
        head.moveTo(24 * s, 4 * s);
        head.lineTo(32 * s, 10 * s);
        head.lineTo(24 * s, 16 * s);
        head.closeSubpath();
        p.fillPath(head, kDark);
    }));
    list.Add(Draw(48, [](QPainter& p, double s) { // 5 microphone
        p.setBrush(kDark);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(18 * s, 6 * s, 12 * s, 22 * s), 6 * s, 6 * s);
        p.setPen(QPen(kDark, 3 * s));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(12 * s, 12 * s, 24 * s, 22 * s), 180 * 16, 180 * 16);
        p.drawLine(QPointF(24 * s, 34 * s), QPointF(24 * s, 42 * s));
        p.drawLine(QPointF(16 * s, 42 * s), QPointF(32 * s, 42 * s));
    }));
    list.Add(Draw(48, [](QPainter& p, double s) { // 6 play then stop
        Triangle(p, s, 6, 20, kGreen);
        p.fillRect(QRectF(30 * s, 14 * s, 14 * s, 20 * s), kRed);
    }));
    return list;
}

TImageList MakeIcons16() {
    TImageList list(QStringLiteral("icons16"), QSize(16, 16));
    const QStringList types = {QStringLiteral("♪"), QStringLiteral("4"), QStringLiteral("W"),
                               QStringLiteral("K"), QStringLiteral("Q"), QStringLiteral("G")};
    const QColor typeColours[] = {QColor(150, 60, 170), QColor(40, 110, 200), QColor(30, 140, 90),
                                  QColor(200, 110, 20), QColor(90, 90, 90),   QColor(160, 40, 40)};
    for (int i = 0; i < 6; ++i) {
        const QString t = types[i];
        const QColor c = typeColours[i];
        list.Add(Draw(16, [t, c](QPainter& p, double s) { Letters(p, s, t, c); }));
    }
    list.Add(Draw(16, [](QPainter& p, double s) { Letters(p, s, QStringLiteral("A"), kDark); }));
    list.Add(Draw(16, [](QPainter& p, double s) { Letters(p, s, QStringLiteral("B"), kDark); }));
    list.Add(Draw(16, [](QPainter& p, double s) { Letters(p, s, QStringLiteral("C"), kDark); }));
    auto folder = [](QColor c, bool open) {
        return Draw(16, [c, open](QPainter& p, double s) {
            p.setPen(Qt::NoPen);
            p.setBrush(c.darker(120));
            p.drawRect(QRectF(4 * s, 8 * s, 18 * s, 8 * s));
            p.setBrush(c);
            if (open) {
                QPainterPath path;
                path.moveTo(4 * s, 40 * s);
                path.lineTo(12 * s, 18 * s);
                path.lineTo(46 * s, 18 * s);
                path.lineTo(38 * s, 40 * s);
                path.closeSubpath();
                p.drawRect(QRectF(4 * s, 12 * s, 36 * s, 28 * s));
                p.setBrush(c.lighter(125));
                p.drawPath(path);
            } else {
                p.drawRect(QRectF(4 * s, 12 * s, 40 * s, 28 * s));
            }
        });
    };
    list.Add(folder(QColor(230, 170, 40), false)); // 9 selected
    list.Add(Draw(16, [](QPainter& p, double s) {  // 10 closed folder, also "exit"
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 160, 60).darker(120));
        p.drawRect(QRectF(4 * s, 8 * s, 18 * s, 8 * s));
        p.setBrush(QColor(200, 160, 60));
        p.drawRect(QRectF(4 * s, 12 * s, 40 * s, 28 * s));
    }));
    list.Add(folder(QColor(240, 200, 90), true)); // 11 expanded
    list.Add(Draw(16, [](QPainter& p, double s) { // 12 web link
        p.setPen(QPen(kBlue, 4 * s));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(6 * s, 6 * s, 36 * s, 36 * s));
        p.drawLine(QPointF(6 * s, 24 * s), QPointF(42 * s, 24 * s));
        p.drawEllipse(QRectF(16 * s, 6 * s, 16 * s, 36 * s));
    }));
    list.Add(Draw(16, [](QPainter& p, double s) { // 13 video-site link
        p.setPen(Qt::NoPen);
        p.setBrush(kRed);
        p.drawRoundedRect(QRectF(2 * s, 10 * s, 44 * s, 28 * s), 8 * s, 8 * s);
        Triangle(p, s, 19, 13, Qt::white);
    }));
    list.Add(Draw(16, [](QPainter& p, double s) { // 14 edit
        p.setPen(QPen(kDark, 6 * s));
        p.drawLine(QPointF(10 * s, 38 * s), QPointF(38 * s, 10 * s));
    }));
    list.Add(Draw(16, [](QPainter& p, double s) { // 15 delete
        p.setPen(QPen(kRed, 6 * s));
        p.drawLine(QPointF(10 * s, 10 * s), QPointF(38 * s, 38 * s));
        p.drawLine(QPointF(38 * s, 10 * s), QPointF(10 * s, 38 * s));
    }));
    list.Add(Draw(16, [](QPainter& p, double s) { // 16 clear all
        p.setPen(QPen(kRed, 5 * s));
        for (int y : {12, 24, 36})
            p.drawLine(QPointF(8 * s, y * s), QPointF(40 * s, y * s));
    }));
    list.Add(Arrow(kGreen, true));                // 17 import
    list.Add(Draw(16, [](QPainter& p, double s) { // 18 clear list
        p.setPen(QPen(kDark, 4 * s));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(10 * s, 6 * s, 28 * s, 36 * s));
    }));
    list.Add(Arrow(kBlue, false)); // 19 export
    list.Add(Draw(16, [](QPainter& p, double s) { Letters(p, s, QStringLiteral("T"), kDark); }));
    list.Add(Draw(16, [](QPainter& p, double s) { Letters(p, s, QStringLiteral("·"), kDark); }));
    return list;
}

TImageList MakeIcons48() {
    TImageList list(QStringLiteral("Icons48"), QSize(48, 48));
    list.Add(Draw(48, [](QPainter& p, double s) { // 0 marquee send
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(2 * s, 12 * s, 44 * s, 24 * s), 4 * s, 4 * s);
        p.setPen(QPen(Qt::white, 3 * s));
        for (int x : {8, 18, 28})
            p.drawLine(QPointF(x * s, 24 * s), QPointF((x + 7) * s, 24 * s));
        Triangle(p, s, 36, 8, Qt::white);
    }));
    list.Add(Draw(48, [](QPainter& p, double s) { Letters(p, s, QStringLiteral("T"), kDark); }));
    return list;
}

QPixmap MonitorBackground(QSize size) {
    QPixmap pm(size);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, QColor(20, 24, 32));
    g.setColorAt(1, QColor(50, 56, 70));
    p.fillRect(pm.rect(), g);
    p.setPen(QColor(120, 130, 150));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(28);
    f.setBold(true);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("TAVORIA"));
    return pm;
}

QPixmap ControlsBackground(QSize size) {
    QPixmap pm(size);
    QPainter p(&pm);
    QLinearGradient g(0, 0, size.width(), size.height());
    g.setColorAt(0, QColor(205, 208, 214));
    g.setColorAt(1, QColor(170, 175, 185));
    p.fillRect(pm.rect(), g);
    return pm;
}

QIcon AppIcon() {
    return MakeImgControls().Icon(1);
}
