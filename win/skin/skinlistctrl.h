// The report-style list drawn in the program's own look: a bitmap header
// band, white rows, a grey selection band instead of the platform
// highlight, and two bitmap scroll bars beside it instead of its own.
#pragma once

#include <QHeaderView>
#include <QTreeWidget>

namespace qs::skin {

class CSkinHorizontalScrollbar;
class CSkinVerticleScrollbar;

inline constexpr int kHeaderBandBitmap = 374;
inline constexpr int kHeaderSeparatorBitmap = 240;
// The header is as tall as the band's strip: the list font's 13 pixels and
// the header's 4-pixel border.
inline constexpr int kHeaderHeight = 17;
// Space between a column's edge and its text.
inline constexpr int kCellMargin = 3;
inline constexpr int kBarThickness = 14;
// Pixels one horizontal line step moves the list.
inline constexpr int kHorizontalLine = 8;

class CSkinHeaderCtrl : public QHeaderView {
    Q_OBJECT
public:
    explicit CSkinHeaderCtrl(QWidget* parent = nullptr);

    // Called for every item after its background is drawn; draws nothing.
    virtual void DrawItem(QPainter& painter, int logicalIndex, const QRect& rect);

protected:
    void paintEvent(QPaintEvent* e) override;
    QSize sizeHint() const override;
};

class CSkinListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CSkinListCtrl(QWidget* parent = nullptr);
    ~CSkinListCtrl() override;

    static constexpr QRgb kSelectedText = 0xFF000000;        // RGB(0, 0, 0)
    static constexpr QRgb kSelectedBackground = 0xFFBEBEBE;  // RGB(190, 190, 190)

    // A one-pixel black line around the list, inside its rectangle (the
    // window border of a list made with a border style).
    void SetBorder(bool on);

    // Creates the two bars beside the list in its parent and places them.
    void Init();
    void PositionScrollBars();
    void updateThumbs();

    CSkinHeaderCtrl* headerCtrl() const { return m_SkinHeaderCtrl; }
    CSkinVerticleScrollbar* verticalBar() const { return m_SkinVerticleScrollbar; }
    CSkinHorizontalScrollbar* horizontalBar() const { return m_SkinHorizontalScrollbar; }

    // The list operations the dialogs use.
    int InsertColumn(int column, const QString& heading, int width);
    int InsertItem(int row, const QString& text);
    void SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    void SetItemData(int row, const QVariant& data);
    QVariant GetItemData(int row) const;
    // The row's tooltip, over each of its columns (empty: none).
    void SetItemToolTip(int row, const QString& text);
    int GetItemCount() const { return topLevelItemCount(); }
    void DeleteAllItems() { clear(); }
    int GetSelectedRow() const;
    void SetSelectedRow(int row);

    // Scroll limit and position: rows vertically, pixels horizontally.
    int verticalLimit() const;
    int verticalPosition() const;
    int horizontalLimit() const;
    int horizontalPosition() const;
    void scrollRows(int rows);
    void scrollPixels(int pixels);
    // Height of the first row (its bounds), as dragging moves by whole rows.
    int firstRowHeight() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void updateGeometries() override;

private:
    CSkinHeaderCtrl* m_SkinHeaderCtrl;
    CSkinVerticleScrollbar* m_SkinVerticleScrollbar = nullptr;
    CSkinHorizontalScrollbar* m_SkinHorizontalScrollbar = nullptr;
};

}  // namespace qs::skin
