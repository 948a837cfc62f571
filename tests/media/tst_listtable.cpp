#include "media/MediaFunctions.h"
#include "media/TIniDocument.h"
#include "media/TavoriaError.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TListView* MakeList(const char* name, int columns, QObject* owner) {
    auto* lv = new TListView();
    lv->setObjectName(QString::fromLatin1(name));
    lv->setColumnCount(columns);
    QObject::connect(owner, &QObject::destroyed, lv, [lv] { delete lv; });
    return lv;
}

void AddRow(TListView* lv, const QStringList& subItems, int image) {
    QTreeWidgetItem* row = lv->AddItem();
    for (const QString& s : subItems)
        lv->AddSubItem(row, s);
    if (image != -2)
        lv->SetSubItemImage(row, image);
}

QStringList Row(TListView* lv, int i) {
    QStringList out;
    for (int j = 0; j < TListView::SubItemCount(lv->Row(i)); ++j)
        out << TListView::SubItem(lv->Row(i), j);
    return out;
}
} // namespace

class TstListTable : public QObject {
    Q_OBJECT
private slots:
    void playlistLayoutInOrder();
    void roundTripAndShrink();
    void captionRowsAndHandEditedTables();
    void loadAppendsAndRunsInsertion();
    void absurdTotalsStayBounded();
    void lineBreakInCellNeverCorruptsTheFile();
    void tablesInAnyKeyOrder_data();
    void tablesInAnyKeyOrder();
    void rowIdsStayWithTheirRows();
    void editRowsReportsTheChangeOnce();
    void imagesAsTheViewShowsThem();
};

void TstListTable::playlistLayoutInOrder() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    TListView* pl = MakeList("lstPlayList", 6, this);
    AddRow(pl, {"a.mp3", "00:05:00", "/m/a.mp3", "300", ""}, 0);
    AddRow(pl, {"watch?v=x", "00:00:00", "https://youtube.com/watch?v=x", "0", "2"}, 13);
    SaveListTable(pl, ini);
    QCOMPARE(ReadAll(ini), QByteArray("\xEF\xBB\xBF[lstPlayList]\r\n"
                                      "iconindex0=0\r\ncelda00=a.mp3\r\ncelda01=00:05:00\r\n"
                                      "celda02=/m/a.mp3\r\ncelda03=300\r\ncelda04=\r\n"
                                      "iconindex1=13\r\ncelda10=watch?v=x\r\ncelda11=00:00:00\r\n"
                                      "celda12=https://youtube.com/watch?v=x\r\ncelda13=0\r\n"
                                      "celda14=2\r\ntotalY=2\r\ntotalX=6\r\n\r\n"));
    // Restored rows carry six sub-items; the next save appends celda05/celda15.
    TListView* back = MakeList("lstPlayList", 6, this);
    LoadListTable(back, ini);
    QCOMPARE(back->RowCount(), 2);
    QCOMPARE(Row(back, 1),
             (QStringList{"watch?v=x", "00:00:00", "https://youtube.com/watch?v=x", "0", "2", ""}));
    QCOMPARE(TListView::SubItemImage(back->Row(1)), 13);
    SaveListTable(back, ini);
    QVERIFY(ReadAll(ini).endsWith("totalY=2\r\ntotalX=6\r\ncelda05=\r\ncelda15=\r\n\r\n"));
}

void TstListTable::roundTripAndShrink() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    TListView* pl = MakeList("lstPlayList", 6, this);
    for (int i = 0; i < 10; ++i)
        AddRow(pl,
               {QStringLiteral("f%1.mp4").arg(i), "00:00:00", QStringLiteral("/m/f%1").arg(i), "0",
                "", ""},
               1);
    SaveListTable(pl, ini);
    while (pl->RowCount() > 3)
        pl->DeleteItem(pl->RowCount() - 1);
    SaveListTable(pl, ini);
    TIniDocument doc(ini);
    QCOMPARE(doc.ReadInteger("lstPlayList", "totalY", -1), 3);
    // Rows 3..9 stay in the file but are never read again.
    QCOMPARE(doc.ReadString("lstPlayList", "celda90", QString()), QStringLiteral("f9.mp4"));
    TListView* back = MakeList("lstPlayList", 6, this);
    LoadListTable(back, ini);
    QCOMPARE(back->RowCount(), 3);
    QCOMPARE(Row(back, 2), Row(pl, 2));
    // Saving the restored list changes no byte.
    const QByteArray before = ReadAll(ini);
    SaveListTable(back, ini);
    QCOMPARE(ReadAll(ini), before);
}

void TstListTable::captionRowsAndHandEditedTables() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    TListView* captions = MakeList("lstTextos", 4, this);
    AddRow(captions, {"Ana", "Charla", "Sala 2"}, -2); // no image set
    TListView* events = MakeList("lstEventos", 4, this);
    SaveListTable(captions, ini);
    SaveListTable(events, ini);
    TIniDocument doc(ini);
    QCOMPARE(doc.ReadInteger("lstTextos", "iconindex0", 0), -1);
    QVERIFY(!doc.ValueExists("lstTextos", "celda03"));
    QCOMPARE(doc.ReadInteger("lstEventos", "totalY", -1), 0);
    QCOMPARE(doc.ReadInteger("lstEventos", "totalX", -1), 4);

    TListView* back = MakeList("lstTextos", 4, this);
    LoadListTable(back, ini);
    QCOMPARE(Row(back, 0), (QStringList{"Ana", "Charla", "Sala 2", ""}));
    TListView* noEvents = MakeList("lstEventos", 4, this);
    LoadListTable(noEvents, ini);
    QCOMPARE(noEvents->RowCount(), 0);

    // A hand-edited section: "totalX" 2 restores two sub-items, a bad icon index
    // gives no image, a missing cell is empty.
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[lstPlayList]\ntotalY=2\ntotalX=2\ncelda00=a\ncelda01=b\ncelda02=c\n"
            "iconindex0=zz\ncelda11=only\n");
    f.close();
    TListView* pl = MakeList("lstPlayList", 6, this);
    LoadListTable(pl, ini);
    QCOMPARE(pl->RowCount(), 2);
    QCOMPARE(Row(pl, 0), (QStringList{"a", "b"}));
    QCOMPARE(Row(pl, 1), (QStringList{"", "only"}));
    QCOMPARE(TListView::SubItemImage(pl->Row(0)), -1);
}

void TstListTable::loadAppendsAndRunsInsertion() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    TListView* pl = MakeList("lstPlayList", 6, this);
    AddRow(pl, {"x", "00:00:00", "/x", "0", ""}, 1);
    SaveListTable(pl, ini);
    int inserted = 0;
    connect(pl, &TListView::OnInsert, this, [&] { ++inserted; });
    LoadListTable(pl, ini);
    QCOMPARE(pl->RowCount(), 2);
    QCOMPARE(inserted, 1);
    QCOMPARE(TListView::SubItem(pl->Row(1), 2), QStringLiteral("/x"));
}

void TstListTable::absurdTotalsStayBounded() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[lstPlayList]\ntotalY=2000000000\ntotalX=2000000000\ncelda00=a\n");
    f.close();
    TListView* pl = MakeList("lstPlayList", 6, this);
    LoadListTable(pl, ini);
    // No more rows than the section has keys, and the stored cell is there.
    QVERIFY(pl->RowCount() <= 3);
    QCOMPARE(TListView::SubItem(pl->Row(0), 0), QStringLiteral("a"));
}

void TstListTable::lineBreakInCellNeverCorruptsTheFile() {
    // A cell that holds a line break cannot be stored: the save fails with a clear
    // error and the file keeps its previous content whole.
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    TListView* pl = MakeList("lstPlayList", 6, this);
    AddRow(pl, {"a.mp4", "00:00:00", "/m/a.mp4", "0", ""}, 1);
    SaveListTable(pl, ini);
    const QByteArray before = ReadAll(ini);
    AddRow(pl, {"b\nc.mp4", "00:00:00", "/m/b\n[CONFIG]\nc.mp4", "0", ""}, 1);
    try {
        SaveListTable(pl, ini);
        QFAIL("a line break was written into config.ini");
    } catch (const TavoriaError& e) {
        QVERIFY2(e.message().contains(QStringLiteral("salto de línea")), qPrintable(e.message()));
    }
    QCOMPARE(ReadAll(ini), before);
    TListView* back = MakeList("lstPlayList", 6, this);
    LoadListTable(back, ini);
    QCOMPARE(back->RowCount(), 1);
    QCOMPARE(TListView::SubItem(back->Row(0), 2), QStringLiteral("/m/a.mp4"));
}

void TstListTable::tablesInAnyKeyOrder_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("rows"); // cells joined with "|"
    QTest::addColumn<QList<int>>("images");
    QTest::newRow("reverse order")
        << QByteArray("[lstPlayList]\ntotalX=3\ntotalY=2\ncelda12=f\ncelda11=e\ncelda10=d\n"
                      "iconindex1=4\ncelda02=c\ncelda01=b\ncelda00=a\niconindex0=3\n")
        << QStringList{"a|b|c", "d|e|f"} << QList<int>{3, 4};
    QTest::newRow("names in other letter case")
        << QByteArray("[LSTPLAYLIST]\nTOTALY=1\nTotalX=2\nICONINDEX0=5\nCelda00=x\nCELDA01=y\n")
        << QStringList{"x|y"} << QList<int>{5};
    QTest::newRow("a repeated key: the first counts")
        << QByteArray("[lstPlayList]\niconindex0=1\ncelda00=first\ncelda01=b\ncelda00=second\n"
                      "iconindex0=9\ntotalY=1\ntotalX=2\n")
        << QStringList{"first|b"} << QList<int>{1};
}

void TstListTable::tablesInAnyKeyOrder() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, rows);
    QFETCH(QList<int>, images);
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    TListView* pl = MakeList("lstPlayList", 6, this);
    LoadListTable(pl, ini);
    QCOMPARE(pl->RowCount(), rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(Row(pl, i).join(QLatin1Char('|')), rows[i]);
        QCOMPARE(TListView::SubItemImage(pl->Row(i)), images[i]);
    }
    // Saved back with a changed cell, the table reads back as the list was (the list's
    // own column count now gives every row its full set of cells).
    pl->SetSubItem(pl->Row(0), 0, QStringLiteral("changed"));
    SaveListTable(pl, ini);
    TListView* back = MakeList("lstPlayList", 6, this);
    LoadListTable(back, ini);
    QCOMPARE(back->RowCount(), rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(Row(back, i).mid(0, Row(pl, i).size()), Row(pl, i));
        QCOMPARE(TListView::SubItemImage(back->Row(i)), images[i]);
    }
}

void TstListTable::rowIdsStayWithTheirRows() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    TListView* pl = MakeList("lstPlayList", 6, this);
    AddRow(pl, {"a"}, 0);
    AddRow(pl, {"b"}, 0);
    SaveListTable(pl, ini);
    LoadListTable(pl, ini); // rows made detached and appended
    pl->InsertItem(1);
    QSet<quint64> ids;
    for (int i = 0; i < pl->RowCount(); ++i)
        ids.insert(TListView::RowId(pl->Row(i)));
    QCOMPARE(ids.size(), pl->RowCount());
    QVERIFY(!ids.contains(0));
    // Moving a row moves its id; asking again gives the same id.
    const quint64 first = TListView::RowId(pl->Row(0));
    pl->MoveItem(0, 3);
    QCOMPARE(TListView::RowId(pl->Row(3)), first);
    QCOMPARE(TListView::RowId(pl->Row(3)), first);
    // A row made elsewhere gets an id of its own on first use, and keeps it.
    QTreeWidgetItem foreign;
    const quint64 id = TListView::RowId(&foreign);
    QVERIFY(!ids.contains(id));
    QCOMPARE(TListView::RowId(&foreign), id);
}

void TstListTable::editRowsReportsTheChangeOnce() {
    TListView* pl = MakeList("lstPlayList", 6, this);
    for (int i = 0; i < 40; ++i)
        AddRow(pl, {QStringLiteral("r%1").arg(i), "", "/x"}, 0);
    QList<QPair<QModelIndex, QModelIndex>> reports;
    connect(pl->model(), &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex& a, const QModelIndex& b) {
                reports.push_back({a, b});
            });
    pl->EditRows([&] {
        for (int i = 0; i < pl->RowCount(); i += 2)
            for (int c = 0; c < pl->columnCount(); ++c)
                pl->Row(i)->setForeground(c, QBrush(Qt::red));
    });
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].first, pl->model()->index(0, 0));
    QCOMPARE(reports[0].second, pl->model()->index(39, 5));
    QCOMPARE(pl->model()->index(38, 4).data(Qt::ForegroundRole).value<QBrush>().color(),
             QColor(Qt::red));
    QVERIFY(!pl->model()->index(37, 4).data(Qt::ForegroundRole).isValid());
    // Outside EditRows each change is reported as it happens.
    reports.clear();
    pl->Row(1)->setForeground(0, QBrush(Qt::blue));
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].first.row(), 1);
}

void TstListTable::imagesAsTheViewShowsThem() {
    // The image index and its icon, as a load makes them, as the view's model shows
    // them, and changed later: the view hears of the change. An index the image list
    // does not have (or a negative one) is kept as it is and shows no icon.
    QPixmap red(16, 16), blue(16, 16);
    red.fill(Qt::red);
    blue.fill(Qt::blue);
    TImageList images(QStringLiteral("img"), QSize(16, 16));
    images.Add(QIcon(red));
    images.Add(QIcon(blue));
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config.ini"));
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[lstPlayList]\ntotalX=2\ntotalY=3\niconindex0=1\ncelda00=a\niconindex1=-5\n"
            "celda10=b\niconindex2=7\ncelda20=c\n");
    f.close();
    TListView* pl = MakeList("lstPlayList", 3, this);
    pl->SetSmallImages(&images);
    LoadListTable(pl, ini);
    QAbstractItemModel* model = pl->model();
    auto pixel = [&](int row) {
        const QIcon icon = qvariant_cast<QIcon>(model->index(row, 1).data(Qt::DecorationRole));
        return icon.isNull() ? QColor() : icon.pixmap(16, 16).toImage().pixelColor(4, 4);
    };
    QCOMPARE(pixel(0), QColor(Qt::blue));
    QCOMPARE(pixel(1), QColor());
    QCOMPARE(pixel(2), QColor());
    QCOMPARE(TListView::SubItemImage(pl->Row(0)), 1);
    QCOMPARE(TListView::SubItemImage(pl->Row(1)), -5);
    QCOMPARE(TListView::SubItemImage(pl->Row(2)), 7);
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    pl->SetSubItemImage(pl->Row(0), 0);
    QVERIFY(!changed.isEmpty());
    QCOMPARE(changed.last().at(0).value<QModelIndex>().row(), 0);
    QCOMPARE(pixel(0), QColor(Qt::red));
    QCOMPARE(TListView::SubItemImage(pl->Row(0)), 0);
    // A text changed later is shown: the view hears of a change that covers its cell.
    changed.clear();
    pl->SetSubItem(pl->Row(2), 0, QStringLiteral("zz"));
    QCOMPARE(model->index(2, 1).data().toString(), QStringLiteral("zz"));
    bool covered = false;
    for (const QList<QVariant>& signal : std::as_const(changed)) {
        const auto from = signal.at(0).value<QModelIndex>();
        const auto to = signal.at(1).value<QModelIndex>();
        covered =
            covered || (from.row() <= 2 && to.row() >= 2 && from.column() <= 1 && to.column() >= 1);
    }
    QVERIFY(covered);
    // Saved back, every index is as it was read or set.
    SaveListTable(pl, ini);
    TIniDocument doc(ini);
    QCOMPARE(doc.ReadString("lstPlayList", "iconindex0", QString()), QStringLiteral("0"));
    QCOMPARE(doc.ReadString("lstPlayList", "iconindex1", QString()), QStringLiteral("-5"));
    QCOMPARE(doc.ReadString("lstPlayList", "iconindex2", QString()), QStringLiteral("7"));
}

QTEST_MAIN(TstListTable)
#include "tst_listtable.moc"
