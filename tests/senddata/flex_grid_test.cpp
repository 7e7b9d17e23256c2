#include "senddata/flex_grid.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPaintEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>
#include <memory>

#include "common/run_time_error.h"
#include "senddata/byte_grid.h"

namespace ostrel {
namespace {

class FlexGridTest : public ::testing::Test {
 protected:
  void SetUp() override { grid_.resize(585, 161); }

  // Shows the grid at the main window's size, so cells have positions on screen.
  void Show() {
    grid_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid_));
  }
  QRect CellRect(int row, int col) { return grid_.visualRect(grid_.model()->index(row - 1, col - 1)); }
  QPoint CellCentre(int row, int col) { return CellRect(row, col).center(); }
  // What the view shows of a data cell, counted as the view counts (no header row or
  // column), and of header sections.
  QVariant Item(int row, int col, int role = Qt::DisplayRole) {
    return grid_.model()->index(row, col).data(role);
  }
  QVariant Header(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) {
    return grid_.model()->headerData(section, orientation, role);
  }

  FlexGrid grid_;
};

TEST_F(FlexGridTest, StartsWithHeaderRowOneDataRowAndSeventeenColumns) {
  EXPECT_EQ(grid_.Rows(), 2);
  EXPECT_EQ(grid_.Cols(), 17);
  EXPECT_EQ(grid_.model()->rowCount(), 1);
  EXPECT_EQ(grid_.model()->columnCount(), 16);
  EXPECT_EQ(grid_.Row(), 1);
  EXPECT_EQ(grid_.Col(), 1);
  EXPECT_TRUE(grid_.Redraw());
  for (int c = 0; c < 17; ++c) {
    EXPECT_EQ(grid_.TextMatrix(0, c), "") << c;
    EXPECT_EQ(grid_.TextMatrix(1, c), "") << c;
    EXPECT_EQ(grid_.CellBackColorAt(1, c), kDefaultBackColor) << c;
  }
  // The table shows no numbers of its own in the headers.
  EXPECT_EQ(grid_.model()->headerData(0, Qt::Vertical).toString(), "");
  EXPECT_EQ(grid_.model()->headerData(15, Qt::Horizontal).toString(), "");
  EXPECT_EQ(FlexGrid(5).Cols(), 5);
}

TEST_F(FlexGridTest, HeaderAndDataCellsMapOntoTheTable) {
  grid_.SetTextMatrix(0, 11, "0A");
  grid_.SetTextMatrix(1, 0, "0000");
  grid_.SetTextMatrix(1, 16, "FF");
  grid_.SetTextMatrix(0, 0, "corner");
  EXPECT_EQ(Header(10, Qt::Horizontal).toString(), "0A");
  EXPECT_EQ(Header(0, Qt::Vertical).toString(), "0000");
  EXPECT_EQ(Item(0, 15).toString(), "FF");
  EXPECT_EQ(grid_.TextMatrix(0, 11), "0A");
  EXPECT_EQ(grid_.TextMatrix(1, 0), "0000");
  EXPECT_EQ(grid_.TextMatrix(1, 16), "FF");
  EXPECT_EQ(grid_.TextMatrix(0, 0), "corner");
  grid_.SetTextMatrix(1, 3, "ｱ漢字");  // UTF-8 round trip
  EXPECT_EQ(grid_.TextMatrix(1, 3), "ｱ漢字");
  // Addressing by TextMatrix leaves the current cell where it was.
  EXPECT_EQ(grid_.Row(), 1);
  EXPECT_EQ(grid_.Col(), 1);
  EXPECT_EQ(grid_.Text(), "");
}

TEST_F(FlexGridTest, CurrentCellAddressesHeadersAndDataForTextAlignmentAndColour) {
  // The main window's load step labels the headers through the current cell.
  for (int i = 0; i < 16; ++i) {
    grid_.SetRow(0);
    grid_.SetCol(i + 1);
    grid_.SetCellAlignment(kAlignCenterCenter);
    grid_.SetText(i < 10 ? "0" + std::to_string(i) : std::string("0") + char('A' + i - 10));
  }
  grid_.SetRow(1);
  grid_.SetCol(0);
  grid_.SetCellAlignment(kAlignCenterCenter);
  grid_.SetText("0000");
  EXPECT_EQ(grid_.TextMatrix(0, 1), "00");
  EXPECT_EQ(grid_.TextMatrix(0, 11), "0A");
  EXPECT_EQ(grid_.TextMatrix(0, 16), "0F");
  EXPECT_EQ(grid_.Text(), "0000");
  EXPECT_TRUE(grid_.CellCenteredAt(0, 16));
  EXPECT_TRUE(grid_.CellCenteredAt(1, 0));
  EXPECT_EQ(Header(0, Qt::Vertical, Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));

  grid_.SetRow(1);
  grid_.SetCol(5);
  EXPECT_FALSE(grid_.CellCenteredAt(1, 5));
  grid_.SetCellAlignment(kAlignCenterCenter);
  grid_.SetText("7F");
  EXPECT_TRUE(grid_.CellCenteredAt(1, 5));
  EXPECT_EQ(Item(0, 4, Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
  EXPECT_EQ(grid_.TextMatrix(1, 5), "7F");
  grid_.SetCellAlignment(0);
  EXPECT_FALSE(grid_.CellCenteredAt(1, 5));
  EXPECT_EQ(Item(0, 4, Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignTop));
}

TEST_F(FlexGridTest, BackColourGreyAndDefaultAgain) {
  grid_.SetRow(1);
  grid_.SetCol(16);
  grid_.SetCellBackColor(kGreyBackColor);
  EXPECT_EQ(grid_.CellBackColorAt(1, 16), kGreyBackColor);
  EXPECT_EQ(Item(0, 15, Qt::BackgroundRole).value<QBrush>().color(), QColor(128, 128, 128));
  EXPECT_EQ(grid_.CellBackColorAt(1, 15), kDefaultBackColor);
  grid_.SetCellBackColor(0x0000FF);  // red in 0x00BBGGRR
  EXPECT_EQ(Item(0, 15, Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 0, 0));
  grid_.SetCellBackColor(kDefaultBackColor);
  EXPECT_EQ(grid_.CellBackColorAt(1, 16), kDefaultBackColor);
  EXPECT_FALSE(Item(0, 15, Qt::BackgroundRole).isValid());
  // Restoring the default of a cell never touched is harmless and sets nothing.
  grid_.SetCol(2);
  grid_.SetCellBackColor(kDefaultBackColor);
  EXPECT_FALSE(Item(0, 1, Qt::BackgroundRole).isValid());
}

TEST_F(FlexGridTest, SetRowsGrowsAndShrinksAtTheBottomKeepingCells) {
  grid_.SetTextMatrix(1, 0, "0000");
  grid_.SetTextMatrix(1, 1, "11");
  grid_.SetRows(4);
  EXPECT_EQ(grid_.Rows(), 4);
  EXPECT_EQ(grid_.TextMatrix(1, 0), "0000");
  EXPECT_EQ(grid_.TextMatrix(1, 1), "11");
  EXPECT_EQ(grid_.TextMatrix(3, 0), "");
  EXPECT_EQ(grid_.TextMatrix(3, 16), "");
  EXPECT_EQ(grid_.CellBackColorAt(3, 16), kDefaultBackColor);
  EXPECT_EQ(grid_.model()->headerData(2, Qt::Vertical).toString(), "");  // no row number

  grid_.SetTextMatrix(3, 2, "33");
  grid_.SetRow(3);
  grid_.SetCol(2);
  grid_.SetCellBackColor(kGreyBackColor);
  grid_.SetRows(2);
  EXPECT_EQ(grid_.Rows(), 2);
  EXPECT_EQ(grid_.Row(), 1);  // the current row followed the bottom
  EXPECT_EQ(grid_.Col(), 2);
  EXPECT_EQ(grid_.TextMatrix(1, 1), "11");
  EXPECT_THROW(grid_.TextMatrix(3, 2), RunTimeError);
  // Rows that come back are empty, with the default background.
  grid_.SetRows(4);
  EXPECT_EQ(grid_.TextMatrix(3, 2), "");
  EXPECT_EQ(grid_.CellBackColorAt(3, 2), kDefaultBackColor);

  // Removing the row the operator last selected leaves a current cell set by code alone.
  grid_.SetRows(4);
  grid_.setCurrentIndex(grid_.model()->index(2, 0));  // the operator's selection in row 3
  EXPECT_EQ(grid_.Row(), 3);
  grid_.SetRow(1);
  grid_.SetCol(5);
  grid_.SetRows(2);
  EXPECT_EQ(grid_.Row(), 1);
  EXPECT_EQ(grid_.Col(), 5);

  grid_.SetRows(1);  // the header row alone
  EXPECT_EQ(grid_.Rows(), 1);
  EXPECT_EQ(grid_.Row(), 0);
  try {
    grid_.SetRows(0);
    FAIL() << "SetRows(0) did not raise";
  } catch (const RunTimeError& error) {
    EXPECT_EQ(error.Description(), desc::kInvalidPropertyValue);
  }
  EXPECT_EQ(grid_.Rows(), 1);
}

TEST_F(FlexGridTest, AddressesOutsideTheGridRaise) {
  EXPECT_THROW(grid_.SetRow(2), RunTimeError);
  EXPECT_THROW(grid_.SetRow(-1), RunTimeError);
  EXPECT_THROW(grid_.SetCol(17), RunTimeError);
  EXPECT_THROW(grid_.SetCellAlignment(10), RunTimeError);
  EXPECT_EQ(grid_.Row(), 1);
  EXPECT_EQ(grid_.Col(), 1);
  try {
    grid_.SetTextMatrix(1, 17, "00");
    FAIL() << "no error for column 17";
  } catch (const RunTimeError& error) {
    EXPECT_EQ(error.Description(), desc::kSubscriptOutOfRange);
  }
  EXPECT_THROW(grid_.TextMatrix(-1, 0), RunTimeError);
}

// Collects the regions the grid's viewport paints.
struct PaintedRegions : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
    return false;
  }
  QRegion painted;
};

TEST_F(FlexGridTest, ResumingDrawingRepaintsOnlyTheCellsThatChanged) {
  grid_.SetRows(20);
  Show();
  PaintedRegions paints;
  grid_.viewport()->installEventFilter(&paints);
  QTest::qWait(20);
  paints.painted = QRegion();

  grid_.SetRedraw(false);
  EXPECT_FALSE(grid_.Redraw());
  for (int c = 3; c <= 5; ++c) grid_.SetTextMatrix(2, c, "7E");
  QTest::qWait(20);
  EXPECT_TRUE(paints.painted.isEmpty()) << "nothing announced, nothing painted";

  grid_.SetRedraw(true);
  EXPECT_TRUE(grid_.Redraw());
  QTRY_VERIFY(!paints.painted.isEmpty());
  const QRect changed = CellRect(2, 3).united(CellRect(2, 5));
  EXPECT_TRUE(paints.painted.boundingRect().contains(changed));
  EXPECT_FALSE(paints.painted.intersects(CellRect(5, 3))) << "a row that did not change";
  EXPECT_FALSE(paints.painted.intersects(CellRect(2, 8))) << "a column that did not change";
}

// The grid paints its cells itself, from texts laid out once, and draws grey grid lines by
// a style hint; what it shows must be what the item view's own delegate under a style
// sheet of grey grid lines shows, pixel for pixel.
// The grid paints its cells and header sections itself, from images; Qt's own painting of
// the table, its delegate and its headers is the reference, a selected cell and a focused
// one included, scrolled down.
TEST_F(FlexGridTest, CellsLookAsTheViewsOwnDelegatePaintsThem) {
  grid_.SetRows(12);
  const char* texts[] = {"00", "7F", "FF", "A", "", "0123", "7f"};
  for (int c = 1; c < 17; ++c) grid_.SetTextMatrix(0, c, "+" + std::to_string(c - 1));
  for (int r = 1; r < 12; ++r) {
    grid_.SetTextMatrix(r, 0, std::to_string(r * 16));
    for (int c = 1; c < 17; ++c) {
      grid_.SetRow(r);
      grid_.SetCol(c);
      grid_.SetText(texts[(r * 17 + c) % 7]);
      if (c % 3 == 0) grid_.SetCellBackColor(kGreyBackColor);
      if (r > 1) grid_.SetCellAlignment((r * 3 + c) % 10);
    }
  }
  Show();
  grid_.activateWindow();
  grid_.setFocus();
  grid_.selectionModel()->select(grid_.model()->index(3, 2), QItemSelectionModel::Select);
  grid_.selectionModel()->setCurrentIndex(grid_.model()->index(4, 5), QItemSelectionModel::NoUpdate);
  grid_.verticalScrollBar()->setValue(2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return grid_.hasFocus(); }));
  grid_.grab();  // the images made
  const QImage ours = grid_.grab().toImage();
  grid_.SetOwnPainting(false);
  const QImage theirs = grid_.grab().toImage();
  ASSERT_EQ(ours.size(), theirs.size());
  int differing = 0;
  for (int y = 0; y < ours.height(); ++y) {
    for (int x = 0; x < ours.width(); ++x) differing += ours.pixel(x, y) != theirs.pixel(x, y);
  }
  EXPECT_EQ(differing, 0);
}

// Counts what the model tells the view.
struct Announcements {
  explicit Announcements(const QAbstractItemModel* model)
      : cells(model, &QAbstractItemModel::dataChanged),
        headers(model, &QAbstractItemModel::headerDataChanged),
        inserted(model, &QAbstractItemModel::rowsInserted),
        removed(model, &QAbstractItemModel::rowsRemoved),
        resets(model, &QAbstractItemModel::modelReset) {}
  int Total() const {
    return cells.count() + headers.count() + inserted.count() + removed.count() + resets.count();
  }
  QSignalSpy cells, headers, inserted, removed, resets;
};

TEST_F(FlexGridTest, FillWithRedrawOffIsAnnouncedOnceWhenResumed) {
  Show();
  const QAbstractItemModel* model = grid_.model();
  {
    Announcements seen(model);
    grid_.SetRedraw(false);
    grid_.SetRows(129);
    for (int r = 0; r < 129; ++r) {
      for (int c = 0; c < 17; ++c) {
        grid_.SetRow(r);
        grid_.SetCol(c);
        grid_.SetCellAlignment(kAlignCenterCenter);
        grid_.SetText("5A");
        grid_.SetCellBackColor(kGreyBackColor);
      }
    }
    EXPECT_EQ(seen.Total(), 0);
    EXPECT_EQ(model->rowCount(), 1);  // the view still knows the old rows
    grid_.SetRedraw(true);
    ASSERT_EQ(seen.inserted.count(), 1);
    EXPECT_EQ(seen.inserted[0][1].toInt(), 1);
    EXPECT_EQ(seen.inserted[0][2].toInt(), 127);
    ASSERT_EQ(seen.cells.count(), 1);
    EXPECT_EQ(seen.cells[0][0].value<QModelIndex>(), model->index(0, 0));
    EXPECT_EQ(seen.cells[0][1].value<QModelIndex>(), model->index(127, 15));
    EXPECT_EQ(seen.headers.count(), 2);  // the column header and the row header
    EXPECT_EQ(seen.Total(), 4);
    EXPECT_EQ(model->rowCount(), 128);
    EXPECT_EQ(Item(127, 15).toString(), "5A");
  }
  {
    // Shrinking while suspended is one removal; the rows gone are not announced as cells.
    Announcements seen(model);
    grid_.SetRedraw(false);
    grid_.SetRows(3);
    grid_.SetTextMatrix(2, 16, "01");
    grid_.SetRedraw(true);
    ASSERT_EQ(seen.removed.count(), 1);
    EXPECT_EQ(seen.removed[0][1].toInt(), 2);
    EXPECT_EQ(seen.removed[0][2].toInt(), 127);
    ASSERT_EQ(seen.cells.count(), 1);
    EXPECT_EQ(seen.cells[0][0].value<QModelIndex>(), model->index(1, 15));
    EXPECT_EQ(seen.Total(), 2);
  }
  {
    // Drawing on: each change is its own cell, an unchanged text none.
    Announcements seen(model);
    grid_.SetTextMatrix(2, 3, "02");
    grid_.SetTextMatrix(2, 3, "02");
    ASSERT_EQ(seen.cells.count(), 1);
    EXPECT_EQ(seen.cells[0][0].value<QModelIndex>(), model->index(1, 2));
    EXPECT_EQ(seen.cells[0][1].value<QModelIndex>(), model->index(1, 2));
    EXPECT_EQ(seen.Total(), 1);
  }
}

TEST_F(FlexGridTest, CellsCannotBeEditedByTyping) {
  Show();
  grid_.SetTextMatrix(1, 1, "12");
  EXPECT_FALSE(grid_.model()->flags(grid_.model()->index(0, 0)) & Qt::ItemIsEditable);
  QTest::mouseDClick(grid_.viewport(), Qt::LeftButton, {}, CellCentre(1, 1));
  QTest::keyClicks(grid_.viewport(), "34");
  QTest::keyClick(grid_.viewport(), Qt::Key_Return);
  EXPECT_EQ(grid_.TextMatrix(1, 1), "12");
}

TEST_F(FlexGridTest, DoubleClickOnDataCellNamesItThenRaisesDblClick) {
  grid_.SetRows(3);
  Show();
  grid_.SetRow(0);  // as left by the load step
  grid_.SetCol(16);
  int row_seen = -1;
  int col_seen = -1;
  QObject::connect(&grid_, &FlexGrid::DblClick, [&] {
    row_seen = grid_.Row();
    col_seen = grid_.Col();
  });
  QSignalSpy double_clicks(&grid_, &FlexGrid::DblClick);
  QTest::mouseDClick(grid_.viewport(), Qt::LeftButton, {}, CellCentre(2, 11));
  EXPECT_EQ(double_clicks.count(), 1);
  EXPECT_EQ(row_seen, 2);
  EXPECT_EQ(col_seen, 11);

  // Below the last row there is no cell: nothing is raised and Row/Col stay.
  QTest::mouseDClick(grid_.viewport(), Qt::LeftButton, {},
                     QPoint(CellCentre(2, 3).x(), grid_.viewport()->height() - 2));
  EXPECT_EQ(double_clicks.count(), 1);
  EXPECT_EQ(grid_.Row(), 2);
  EXPECT_EQ(grid_.Col(), 11);

  // The right and the middle button open nothing.
  for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
    QTest::mouseDClick(grid_.viewport(), button, {}, CellCentre(1, 4));
  }
  EXPECT_EQ(double_clicks.count(), 1);
}

TEST_F(FlexGridTest, OperatorSelectsDataCellsButNeverAHeader) {
  grid_.SetRows(3);
  for (int r = 1; r < 3; ++r) {
    for (int c = 1; c < 17; ++c) grid_.SetTextMatrix(r, c, "00");
  }
  Show();
  QSignalSpy mouse_ups(&grid_, &FlexGrid::MouseUp);
  QTest::mouseClick(grid_.viewport(), Qt::LeftButton, {}, CellCentre(2, 4));
  EXPECT_EQ(grid_.Row(), 2);
  EXPECT_EQ(grid_.Col(), 4);
  EXPECT_EQ(mouse_ups.count(), 1);
  // Code moved the current cell; clicking the same cell again brings it back.
  grid_.SetRow(1);
  grid_.SetCol(1);
  QTest::mouseClick(grid_.viewport(), Qt::LeftButton, {}, CellCentre(2, 4));
  EXPECT_EQ(grid_.Row(), 2);
  EXPECT_EQ(grid_.Col(), 4);

  QHeaderView* columns = grid_.horizontalHeader();
  QHeaderView* rows = grid_.verticalHeader();
  const QPoint column_header(columns->sectionViewportPosition(6) + 5, columns->height() / 2);
  const QPoint row_header(rows->width() / 2, rows->sectionViewportPosition(0) + 5);
  QTest::mouseClick(columns->viewport(), Qt::LeftButton, {}, column_header);
  QTest::mouseDClick(columns->viewport(), Qt::LeftButton, {}, column_header);
  QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, row_header);
  EXPECT_EQ(grid_.Row(), 2);
  EXPECT_EQ(grid_.Col(), 4);
  const QModelIndexList selected = grid_.selectionModel()->selectedIndexes();
  ASSERT_EQ(selected.size(), 1);  // no header click selected a row or column
  EXPECT_EQ(selected[0], grid_.model()->index(1, 3));
  EXPECT_EQ(grid_.currentIndex().row(), 1);
  EXPECT_EQ(grid_.currentIndex().column(), 3);
  EXPECT_GE(mouse_ups.count(), 4);  // header releases count as releases over the grid

  // The keyboard moves within the data cells and Row/Col follow.
  QTest::keyClick(grid_.viewport(), Qt::Key_Up);
  QTest::keyClick(grid_.viewport(), Qt::Key_Up);
  QTest::keyClick(grid_.viewport(), Qt::Key_Left);
  EXPECT_EQ(grid_.Row(), 1);
  EXPECT_EQ(grid_.Col(), 3);
}

TEST_F(FlexGridTest, SixteenColumnsAndRowHeaderFitWithoutSideways) {
  grid_.SetRows(129);
  Show();
  const QHeaderView* columns = grid_.horizontalHeader();
  const int needed = grid_.verticalHeader()->width() + columns->length() +
                     grid_.verticalScrollBar()->sizeHint().width() + 2 * grid_.frameWidth();
  EXPECT_LE(needed, 585);
  EXPECT_FALSE(grid_.horizontalScrollBar()->isVisible());
}

TEST_F(FlexGridTest, EveryByteValueIsShownAndReadsBackUnchanged) {
  Show();
  std::vector<uint8_t> all(256);
  for (int b = 0; b < 256; ++b) all[b] = static_cast<uint8_t>(b);
  grid_.SetRedraw(false);
  SetGridFromByteArray(grid_, all);
  grid_.SetRedraw(true);
  const QAbstractItemModel* model = grid_.model();
  ASSERT_EQ(model->rowCount(), 16);
  static const char kDigits[] = "0123456789ABCDEF";
  for (int b = 0; b < 256; ++b) {
    const QString hex = QString(QChar(kDigits[b >> 4])) + QChar(kDigits[b & 15]);
    ASSERT_EQ(model->data(model->index(b / 16, b % 16)).toString(), hex) << b;
  }
  EXPECT_EQ(model->headerData(15, Qt::Vertical).toString(), "000F");
  std::vector<uint8_t> back;
  SetByteArrayFromGrid(back, grid_);
  EXPECT_EQ(back, all);
}

TEST_F(FlexGridTest, FullFillWithRedrawOffIsQuick) {
  Show();
  QElapsedTimer clock;
  clock.start();
  grid_.SetRedraw(false);
  grid_.SetRows(129);
  for (int r = 1; r < grid_.Rows(); ++r) {
    grid_.SetRow(r);
    grid_.SetCol(0);
    grid_.SetCellAlignment(kAlignCenterCenter);
    grid_.SetText("0000");
    for (int c = 1; c < grid_.Cols(); ++c) {
      grid_.SetCol(c);
      grid_.SetCellAlignment(kAlignCenterCenter);
      grid_.SetText("A5");
      grid_.SetCellBackColor(kDefaultBackColor);
    }
  }
  grid_.SetRedraw(true);
  QCoreApplication::processEvents();
  // Generous: a layout pass per cell would take far longer.
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_EQ(grid_.TextMatrix(128, 16), "A5");
  EXPECT_EQ(grid_.TextMatrix(128, 0), "0000");
}

}  // namespace
}  // namespace ostrel
