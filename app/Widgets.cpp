#include "app/Widgets.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QToolButton>

TTabStrip::TTabStrip(QWidget* parent) : QWidget(parent), m_layout(new QHBoxLayout(this)) {
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(1);
    m_layout->addStretch(1);
    m_group.setExclusive(false);
    setStyleSheet(QStringLiteral(
        "QToolButton { border: 1px solid gray; border-bottom-left-radius: 4px; "
        "border-bottom-right-radius: 4px; padding: 2px 8px; background: #d8d8d8; }"
        "QToolButton:checked { background: white; font-weight: bold; border-top: none; }"));
    connect(&m_group, &QButtonGroup::idClicked, this, [this](int id) { ClickTab(id); });
}

void TTabStrip::SetTabs(const QStringList& tabs) {
    for (QAbstractButton* b : m_group.buttons()) {
        m_group.removeButton(b);
        delete b;
    }
    m_tabs = tabs;
    m_index = -1;
    for (int i = 0; i < tabs.size(); ++i) {
        auto* b = new QToolButton(this);
        b->setText(tabs[i]);
        b->setCheckable(true);
        b->setAutoRaise(false);
        b->setObjectName(QStringLiteral("tabEfectos_%1").arg(i));
        m_group.addButton(b, i);
        m_layout->insertWidget(i, b);
    }
    Refresh();
}

void TTabStrip::SetTabIndex(int index) {
    if (index < -1 || index >= Count())
        return;
    m_index = index;
    Refresh();
}

void TTabStrip::ClickTab(int index) {
    if (index < 0 || index >= Count())
        return;
    const bool changed = index != m_index;
    m_index = index;
    Refresh();
    if (changed)
        emit TabIndexChanged(index);
}

void TTabStrip::Refresh() {
    for (QAbstractButton* b : m_group.buttons())
        b->setChecked(m_group.id(b) == m_index);
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* e) {
    QLabel::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit clicked();
}

TStatusBar::TStatusBar(QWidget* parent)
    : QStatusBar(parent), m_panel0(new QLabel(this)), m_panel1(new QLabel(this)) {
    setSizeGripEnabled(false);
    setFixedHeight(22);
    m_panel0->setObjectName(QStringLiteral("barStatusPanel0"));
    m_panel1->setObjectName(QStringLiteral("barStatusPanel1"));
    // Panel 0 takes at most the bar's width less panel 1; it never asks for width of
    // its own, so setting it can never make the bar (and the window) wider.
    m_panel0->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_panel0->setMinimumWidth(0);
    m_panel0->setMaximumWidth(900);
    m_panel1->setFixedWidth(200);
    m_panel0->setFrameShape(QFrame::StyledPanel);
    m_panel1->setFrameShape(QFrame::StyledPanel);
    addWidget(m_panel0, 1);
    addWidget(m_panel1);
}

void TStatusBar::resizeEvent(QResizeEvent* e) {
    QStatusBar::resizeEvent(e);
    // Only a real change of width concerns the panels.
    if (e->size().width() != e->oldSize().width())
        emit Resized();
}

void TStatusBar::SetPanel0Width(int width) {
    width = std::max(0, width);
    if (m_panel0->maximumWidth() != width)
        m_panel0->setMaximumWidth(width);
}

TSelectionBar::TSelectionBar(QWidget* parent) : QProgressBar(parent) {
    setMinimum(0);
    setMaximum(10);
    setValue(0);
    setTextVisible(false);
}
