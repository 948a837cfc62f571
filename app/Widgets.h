#pragma once
#include <QButtonGroup>
#include <QHash>
#include <QLabel>
#include <QPersistentModelIndex>
#include <QProgressBar>
#include <QStatusBar>
#include <QStringList>
#include <QTreeWidget>
#include <QWidget>
#include <functional>

class QHBoxLayout;
class QScrollArea;
class QToolButton;

// A strip of tabs that, unlike QTabBar, can have no tab selected (index -1).
// TabIndexChanged is emitted only for the operator's clicks; SetTabIndex is silent.
// Every tab keeps the width its text needs; when they do not all fit, the strip
// scrolls as a QTabBar does: two arrow buttons at its right end (and the mouse
// wheel) move the row by one tab, and the selected tab is always scrolled into view.
class TTabStrip : public QWidget {
    Q_OBJECT
public:
    explicit TTabStrip(QWidget* parent = nullptr);
    ~TTabStrip() override;
    void SetTabs(const QStringList& tabs); // selection becomes -1
    QStringList Tabs() const { return m_tabs; }
    int Count() const { return int(m_tabs.size()); }
    int TabIndex() const { return m_index; }
    void SetTabIndex(int index); // -1 for none; out of range is ignored
    QString TabText(int index) const { return m_tabs.value(index); }
    void ClickTab(int index); // as the operator's click

    // The tab's button (for tests and layout checks); nullptr out of range.
    QAbstractButton* TabButton(int index) const { return m_group.button(index); }
    // The tab's place in the strip's own coordinates (may lie outside when scrolled away).
    QRect TabRect(int index) const;
    // The part of the strip that shows tabs (left of the arrow buttons).
    QRect TabArea() const;
    // True while the arrow buttons are shown (the tabs do not all fit).
    bool Scrolls() const;
    // Moves the row by one tab: -1 towards the first, +1 towards the last.
    void ScrollBy(int steps);
    void EnsureTabVisible(int index);

signals:
    void TabIndexChanged(int index);

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Refresh();
    void UpdateScrolling();
    QStringList m_tabs;
    int m_index = -1;
    QScrollArea* m_area;
    QWidget* m_row;
    QHBoxLayout* m_layout;
    QToolButton* m_left;
    QToolButton* m_right;
    QButtonGroup m_group;
};

// The explorer tree. Several nodes may be selected (Ctrl-click, Shift-click), but
// only siblings of one folder and only visible ones: selecting a node elsewhere
// drops the others, and collapsing a folder drops its selected descendants.
class TExplorerTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit TExplorerTree(QWidget* parent = nullptr);
    ~TExplorerTree() override;
    // The selected nodes in the order the operator selected them.
    QList<QTreeWidgetItem*> SelectionOrder() const;

private:
    void SelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    QHash<QPersistentModelIndex, quint64> m_selectedAt; // node -> when it was selected
    quint64 m_selections = 0;
    bool m_constraining = false;
};

// Runs f for every event that reaches watched (it lives as long as watched); f's
// result says whether the event is consumed.
class TEventHook : public QObject {
public:
    TEventHook(QObject* watched, std::function<bool(QEvent*)> f)
        : QObject(watched), m_f(std::move(f)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override { return m_f(e); }

private:
    std::function<bool(QEvent*)> m_f;
};

// A label that reports clicks (the clock).
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

// A status bar with two text panels; panel 0 is as wide as the bar less 200 px.
class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget* parent = nullptr);
    QLabel* Panel(int index) const { return index == 0 ? m_panel0 : m_panel1; }
    // Panel 0's width; it follows the bar and never widens it.
    void SetPanel0Width(int width);

signals:
    void Resized();

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QLabel* m_panel0;
    QLabel* m_panel1;
};

// A track bar whose selection shows a played fraction (the effect's progress).
class TSelectionBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TSelectionBar(QWidget* parent = nullptr);
    void SetSelEnd(int value) { setValue(std::clamp(value, minimum(), maximum())); }
    int SelEnd() const { return value(); }
    // A maximum below the minimum is refused and leaves the maximum unchanged.
    void SetMax(int value) {
        if (value >= minimum())
            setMaximum(std::max(value, minimum() + 1)); // 0 would animate "busy"
    }
};
