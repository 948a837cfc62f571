#pragma once
#include <QButtonGroup>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QStringList>
#include <QWidget>

class QHBoxLayout;

// A strip of tabs that, unlike QTabBar, can have no tab selected (index -1).
// TabIndexChanged is emitted only for the operator's clicks; SetTabIndex is silent.
class TTabStrip : public QWidget {
    Q_OBJECT
public:
    explicit TTabStrip(QWidget* parent = nullptr);
    void SetTabs(const QStringList& tabs); // selection becomes -1
    QStringList Tabs() const { return m_tabs; }
    int Count() const { return int(m_tabs.size()); }
    int TabIndex() const { return m_index; }
    void SetTabIndex(int index); // -1 for none; out of range is ignored
    QString TabText(int index) const { return m_tabs.value(index); }
    void ClickTab(int index); // as the operator's click

signals:
    void TabIndexChanged(int index);

private:
    void Refresh();
    QStringList m_tabs;
    int m_index = -1;
    QHBoxLayout* m_layout;
    QButtonGroup m_group;
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
