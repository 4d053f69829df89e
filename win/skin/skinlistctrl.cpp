#include "skinlistctrl.h"

#include "artwork.h"
#include "memdc.h"
#include "skinscrollbar.h"

#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QScrollBar>

namespace qs::skin {

CSkinHeaderCtrl::CSkinHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setStretchLastSection(false);
    setDefaultAlignment(Qt::AlignCenter);
    setFixedHeight(kHeaderHeight);
}

QSize CSkinHeaderCtrl::sizeHint() const { return QSize(QHeaderView::sizeHint().width(), kHeaderHeight); }

void CSkinHeaderCtrl::DrawItem(QPainter&, int, const QRect&) {}

void CSkinHeaderCtrl::paintEvent(QPaintEvent*) {
    QPainter screen(viewport());
    const QRect client = viewport()->rect();
    CMemDC mem(&screen, client);
    QPainter& p = mem.painter();
    p.fillRect(client, Qt::black);
    const QImage band = artwork::bitmap(kHeaderBandBitmap);
    const QImage separator = artwork::bitmap(kHeaderSeparatorBitmap);
    // The band's single column, stretched over the whole width.
    blit(p, QRect(0, 0, client.width(), 17), band, QRect(0, 0, 1, 17));
    p.setFont(skinFont(14));
    p.setBackgroundMode(Qt::TransparentMode);
    for (int i = 0; i < count(); ++i) {
        if (isSectionHidden(i)) continue;
        const QRect item(sectionViewportPosition(i), 0, sectionSize(i), client.height());
        // One 1 x 24 column of the band for every x of the item.
        blit(p, QRect(item.left(), 0, item.width(), 24), band, QRect(0, 0, 1, 24));
        if (i > 0) blit(p, QRect(QPoint(item.left() - 2, 0), separator.deviceIndependentSize().toSize()), separator);
        DrawItem(p, i, item);
        const QString text = model() ? model()->headerData(i, orientation(), Qt::DisplayRole).toString() : QString();
        const QRect textRect = item.adjusted(2, 2, -2, -2);
        p.setPen(Qt::black);
        p.drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                   p.fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
    }
}

CSkinListCtrl::CSkinListCtrl(QWidget* parent) : QTreeWidget(parent), m_SkinHeaderCtrl(new CSkinHeaderCtrl(this)) {
    // The header is taken over before anything is drawn.
    setHeader(m_SkinHeaderCtrl);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // The platform's bars are never shown; scrolling is by rows vertically
    // and by pixels horizontally, as the bitmap bars count it.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
    setFrameShape(QFrame::NoFrame);
    setColumnCount(0);  // columns come only from InsertColumn
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &CSkinListCtrl::updateThumbs);
    connect(horizontalScrollBar(), &QScrollBar::rangeChanged, this, &CSkinListCtrl::updateThumbs);
}

CSkinListCtrl::~CSkinListCtrl() {
    // The bars live in the parent; they go with the list.
    delete m_SkinHorizontalScrollbar;
    delete m_SkinVerticleScrollbar;
}

void CSkinListCtrl::SetBorder(bool on) {
    setFrameStyle(on ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
    setLineWidth(1);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);  // the line's colour
    setPalette(pal);
}

void CSkinListCtrl::Init() {
    QWidget* parent = parentWidget();
    m_SkinVerticleScrollbar = new CSkinVerticleScrollbar(parent);
    m_SkinVerticleScrollbar->setList(this);
    m_SkinHorizontalScrollbar = new CSkinHorizontalScrollbar(parent);
    m_SkinHorizontalScrollbar->setList(this);
    m_SkinVerticleScrollbar->show();
    m_SkinHorizontalScrollbar->show();
    PositionScrollBars();
}

void CSkinListCtrl::PositionScrollBars() {
    if (!m_SkinVerticleScrollbar || !m_SkinHorizontalScrollbar) return;
    const QRect r = geometry();  // in the parent's client coordinates
    m_SkinVerticleScrollbar->setGeometry(r.x() + r.width(), r.y(), kBarThickness, r.height() - 1);
    m_SkinHorizontalScrollbar->setGeometry(r.x(), r.y() + r.height(), r.width() - 2, kBarThickness);
    updateThumbs();
}

void CSkinListCtrl::updateThumbs() {
    if (m_SkinVerticleScrollbar) m_SkinVerticleScrollbar->UpdateThumbPosition();
    if (m_SkinHorizontalScrollbar) m_SkinHorizontalScrollbar->UpdateThumbPosition();
}

int CSkinListCtrl::InsertColumn(int column, const QString& heading, int width) {
    const int n = columnCount();
    if (column < 0 || column > n) column = n;
    setColumnCount(n + 1);
    QTreeWidgetItem* h = headerItem();
    for (int c = n; c > column; --c) h->setText(c, h->text(c - 1));
    h->setText(column, heading);
    setColumnWidth(column, width);
    return column;
}

int CSkinListCtrl::InsertItem(int row, const QString& text) {
    if (row < 0 || row > topLevelItemCount()) row = topLevelItemCount();
    auto* item = new QTreeWidgetItem;
    item->setText(0, text);
    insertTopLevelItem(row, item);
    return row;
}

void CSkinListCtrl::SetItemText(int row, int column, const QString& text) {
    if (QTreeWidgetItem* item = topLevelItem(row)) item->setText(column, text);
}

QString CSkinListCtrl::GetItemText(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->text(column) : QString();
}

void CSkinListCtrl::SetItemData(int row, const QVariant& data) {
    if (QTreeWidgetItem* item = topLevelItem(row)) item->setData(0, Qt::UserRole, data);
}

QVariant CSkinListCtrl::GetItemData(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->data(0, Qt::UserRole) : QVariant();
}

void CSkinListCtrl::SetItemToolTip(int row, const QString& text) {
    if (QTreeWidgetItem* item = topLevelItem(row))
        for (int c = 0; c < columnCount(); ++c) item->setToolTip(c, text);
}

int CSkinListCtrl::GetSelectedRow() const {
    const auto rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void CSkinListCtrl::SetSelectedRow(int row) {
    if (QTreeWidgetItem* item = topLevelItem(row)) setCurrentItem(item);
}

int CSkinListCtrl::verticalLimit() const { return verticalScrollBar()->maximum(); }
int CSkinListCtrl::verticalPosition() const { return verticalScrollBar()->value(); }
int CSkinListCtrl::horizontalLimit() const { return horizontalScrollBar()->maximum(); }
int CSkinListCtrl::horizontalPosition() const { return horizontalScrollBar()->value(); }
void CSkinListCtrl::scrollRows(int rows) { verticalScrollBar()->setValue(verticalScrollBar()->value() + rows); }
void CSkinListCtrl::scrollPixels(int pixels) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + pixels);
}

int CSkinListCtrl::firstRowHeight() const {
    const QTreeWidgetItem* first = topLevelItem(0);
    return first ? visualItemRect(first).height() : 0;
}

void CSkinListCtrl::paintEvent(QPaintEvent* e) {
    QPainter screen(viewport());
    CMemDC mem(&screen, e->rect());
    mem->fillRect(e->rect(), Qt::white);
    updateThumbs();
    drawTree(&mem.painter(), e->region());
}

void CSkinListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    // The list draws its rows itself, never through the platform's style:
    // a selected row is the flat grey band with black text, whether the
    // list has the focus or not, and every other row is white, the current
    // one too. No highlight, focus frame or hover look from the style.
    QItemSelectionModel* sel = selectionModel();
    const bool selected = sel && sel->isRowSelected(index.row(), index.parent());
    const QColor background =
        selected ? QColor::fromRgb(kSelectedBackground) : palette().color(QPalette::Active, QPalette::Base);
    const QColor text = selected ? QColor::fromRgb(kSelectedText) : palette().color(QPalette::Active, QPalette::Text);
    const QHeaderView* h = header();
    // The band covers the row's columns, as in a report list.
    painter->fillRect(QRect(-h->offset(), option.rect.top(), h->length(), option.rect.height()), background);
    painter->save();
    painter->setFont(option.font);
    painter->setPen(text);
    const QFontMetrics metrics(option.font);
    for (int visual = 0; visual < h->count(); ++visual) {
        const int column = h->logicalIndex(visual);
        if (h->isSectionHidden(column)) continue;
        const QRect cell(columnViewportPosition(column), option.rect.top(), columnWidth(column), option.rect.height());
        const QRect textRect = cell.adjusted(kCellMargin, 0, -kCellMargin, 0);
        if (textRect.width() <= 0) continue;
        const QString value = index.siblingAtColumn(column).data(Qt::DisplayRole).toString();
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          metrics.elidedText(value, Qt::ElideRight, textRect.width()));
    }
    painter->restore();
}

void CSkinListCtrl::wheelEvent(QWheelEvent* e) {
    updateThumbs();
    QTreeWidget::wheelEvent(e);
    updateThumbs();
}

void CSkinListCtrl::keyPressEvent(QKeyEvent* e) {
    updateThumbs();
    QTreeWidget::keyPressEvent(e);
    updateThumbs();
}

void CSkinListCtrl::keyReleaseEvent(QKeyEvent* e) {
    updateThumbs();
    QTreeWidget::keyReleaseEvent(e);
}

void CSkinListCtrl::resizeEvent(QResizeEvent* e) {
    // Resizing moves nothing: only PositionScrollBars places the bars.
    QTreeWidget::resizeEvent(e);
    update();
}

}  // namespace qs::skin

namespace qs::skin {

void CSkinListCtrl::updateGeometries() {
    QTreeWidget::updateGeometries();
    // A line to the side is a few pixels, as in a report list, not a
    // fraction of the view.
    horizontalScrollBar()->setSingleStep(kHorizontalLine);
}

}  // namespace qs::skin
