#include "app/Widgets.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <limits>
#include <vector>

TTabStrip::TTabStrip(QWidget* parent)
    : QWidget(parent), m_area(new QScrollArea(this)), m_row(new QWidget),
      m_layout(new QHBoxLayout(m_row)), m_left(new QToolButton(this)),
      m_right(new QToolButton(this)) {
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(1);
    m_layout->addStretch(1);
    m_row->setObjectName(QStringLiteral("TabRow"));
    // Only the tabs get the tab look, not the arrow buttons.
    m_row->setStyleSheet(QStringLiteral(
        "QToolButton { border: 1px solid gray; border-bottom-left-radius: 4px; "
        "border-bottom-right-radius: 4px; padding: 2px 8px; background: #d8d8d8; }"
        "QToolButton:checked { background: white; font-weight: bold; border-top: none; }"));
    m_area->setFrameShape(QFrame::NoFrame);
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The row is sized here (UpdateScrolling): never narrower than its tabs need.
    m_area->setWidgetResizable(false);
    m_area->setFocusPolicy(Qt::NoFocus);
    m_area->setWidget(m_row);
    m_area->viewport()->setAutoFillBackground(false);
    m_row->setAutoFillBackground(false);
    m_area->viewport()->installEventFilter(this);
    m_row->installEventFilter(this);
    for (auto [button, arrow, name, step] :
         {std::tuple{m_left, Qt::LeftArrow, "TabScrollLeft", -1},
          std::tuple{m_right, Qt::RightArrow, "TabScrollRight", 1}}) {
        button->setArrowType(arrow);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->hide();
        connect(button, &QToolButton::clicked, this, [this, s = step] { ScrollBy(s); });
    }
    outer->addWidget(m_area, 1);
    outer->addWidget(m_left);
    outer->addWidget(m_right);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QScrollBar* bar = m_area->horizontalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this] { UpdateScrolling(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this] { UpdateScrolling(); });
    m_group.setExclusive(false);
    connect(&m_group, &QButtonGroup::idClicked, this, [this](int id) { ClickTab(id); });
    UpdateScrolling();
}

TTabStrip::~TTabStrip() {
    // The children go after this object's members: nothing may call back into it.
    m_area->horizontalScrollBar()->disconnect(this);
    m_area->viewport()->removeEventFilter(this);
    m_row->removeEventFilter(this);
}

void TTabStrip::SetTabs(const QStringList& tabs) {
    for (QAbstractButton* b : m_group.buttons()) {
        m_group.removeButton(b);
        delete b;
    }
    m_tabs = tabs;
    m_index = -1;
    for (int i = 0; i < tabs.size(); ++i) {
        auto* b = new QToolButton(m_row);
        b->setText(tabs[i]);
        b->setCheckable(true);
        b->setAutoRaise(false);
        b->setFocusPolicy(Qt::NoFocus);
        // A tab is never squeezed below the width its text needs.
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        b->setObjectName(QStringLiteral("tabEfectos_%1").arg(i));
        m_group.addButton(b, i);
        m_layout->insertWidget(i, b);
    }
    m_area->horizontalScrollBar()->setValue(0);
    Refresh();
    UpdateScrolling();
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
    EnsureTabVisible(m_index);
}

QRect TTabStrip::TabRect(int index) const {
    const QAbstractButton* b = TabButton(index);
    return b ? QRect(b->mapTo(this, QPoint(0, 0)), b->size()) : QRect();
}

QRect TTabStrip::TabArea() const {
    return m_area->geometry();
}

bool TTabStrip::Scrolls() const {
    return !m_left->isHidden();
}

void TTabStrip::EnsureTabVisible(int index) {
    if (QAbstractButton* b = TabButton(index)) {
        // The row's layout must have placed the button before it can be shown.
        m_layout->activate();
        m_area->ensureWidgetVisible(b, 0, 0);
    }
}

void TTabStrip::ScrollBy(int steps) {
    QScrollBar* bar = m_area->horizontalScrollBar();
    const int shown = m_area->viewport()->width();
    int value = bar->value();
    for (; steps > 0; --steps) {
        // The first tab cut off on the right is brought fully into view.
        for (int i = 0; i < Count(); ++i) {
            const QRect r = TabButton(i)->geometry();
            if (r.right() >= value + shown) {
                value = r.right() + 1 - shown;
                break;
            }
        }
    }
    for (; steps < 0; ++steps) {
        // The last tab cut off on the left is brought fully into view.
        for (int i = Count() - 1; i >= 0; --i) {
            const QRect r = TabButton(i)->geometry();
            if (r.left() < value) {
                value = r.left();
                break;
            }
        }
    }
    bar->setValue(value);
}

void TTabStrip::UpdateScrolling() {
    const QSize need = m_row->minimumSizeHint();
    const int height = std::max(need.height(), 0);
    if (m_area->height() != height || minimumHeight() != height) {
        m_area->setFixedHeight(height);
        setFixedHeight(height);
        m_left->setFixedHeight(height);
        m_right->setFixedHeight(height);
    }
    const bool scrolls = need.width() > width();
    if (scrolls != Scrolls()) {
        m_left->setVisible(scrolls);
        m_right->setVisible(scrolls);
    }
    const QSize size(std::max(need.width(), m_area->viewport()->width()), height);
    if (m_row->size() != size)
        m_row->resize(size);
    const QScrollBar* bar = m_area->horizontalScrollBar();
    m_left->setEnabled(bar->value() > bar->minimum());
    m_right->setEnabled(bar->value() < bar->maximum());
}

void TTabStrip::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    UpdateScrolling();
    EnsureTabVisible(m_index);
}

bool TTabStrip::eventFilter(QObject* watched, QEvent* e) {
    // The row's layout has just placed its tabs (their text, the bold selected tab).
    if (watched == m_row && e->type() == QEvent::LayoutRequest) {
        UpdateScrolling();
        return false;
    }
    if (watched == m_area->viewport() && e->type() == QEvent::Wheel) {
        const QPoint delta = static_cast<QWheelEvent*>(e)->angleDelta();
        const int d = delta.y() != 0 ? delta.y() : delta.x();
        if (d != 0)
            ScrollBy(d > 0 ? -1 : 1);
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

TExplorerTree::TExplorerTree(QWidget* parent) : QTreeWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TExplorerTree::SelectionChanged);
    connect(model(), &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_selectedAt.clear(); });
    // A folder that closes takes its selected descendants out of the selection.
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* folder) {
        QItemSelection hidden;
        for (QTreeWidgetItem* item : selectedItems())
            for (QTreeWidgetItem* p = item->parent(); p; p = p->parent())
                if (p == folder) {
                    const QModelIndex i = indexFromItem(item);
                    hidden.select(i, i);
                    break;
                }
        if (!hidden.isEmpty())
            selectionModel()->select(hidden, QItemSelectionModel::Deselect);
    });
}

TExplorerTree::~TExplorerTree() {
    // The view's base destructor still changes the selection: the handlers would run
    // on members already gone.
    selectionModel()->disconnect(this);
    model()->disconnect(this);
    disconnect(this, nullptr, this, nullptr);
}

void TExplorerTree::SelectionChanged(const QItemSelection& selected,
                                     const QItemSelection& deselected) {
    for (const QModelIndex& i : deselected.indexes())
        m_selectedAt.remove(QPersistentModelIndex(i));
    for (const QModelIndex& i : selected.indexes())
        if (!m_selectedAt.contains(QPersistentModelIndex(i)))
            m_selectedAt.insert(QPersistentModelIndex(i), ++m_selections);
    // Nodes removed while selected leave invalid keys behind.
    if (m_selectedAt.size() > 64 &&
        m_selectedAt.size() > 2 * selectionModel()->selectedIndexes().size())
        m_selectedAt.removeIf([](const auto& it) { return !it.key().isValid(); });
    if (m_constraining || selected.isEmpty())
        return;
    // The folder of the node selected last keeps its selected nodes: the node the
    // operator clicked, or the first node of a range.
    const QModelIndex current = currentIndex();
    const QModelIndex folder =
        selected.contains(current) ? current.parent() : selected.indexes().constFirst().parent();
    QItemSelection others;
    for (const QModelIndex& i : selectionModel()->selectedIndexes())
        if (i.parent() != folder)
            others.select(i, i);
    if (others.isEmpty())
        return;
    m_constraining = true;
    selectionModel()->select(others, QItemSelectionModel::Deselect);
    m_constraining = false;
}

QList<QTreeWidgetItem*> TExplorerTree::SelectionOrder() const {
    std::vector<std::pair<quint64, QTreeWidgetItem*>> order;
    for (QTreeWidgetItem* item : selectedItems()) {
        const quint64 at = m_selectedAt.value(QPersistentModelIndex(indexFromItem(item)),
                                              std::numeric_limits<quint64>::max());
        order.emplace_back(at, item);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<QTreeWidgetItem*> items;
    for (const auto& o : order)
        items.push_back(o.second);
    return items;
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
