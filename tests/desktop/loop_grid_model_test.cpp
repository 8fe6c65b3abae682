#include "desktop/loop_grid_model.h"

#include <gtest/gtest.h>

using namespace loopmon;

namespace {

constexpr std::array<int, LoopTableColumns> AdcWidths{90, 120, 77, 90};

}  // namespace

TEST(LoopGridModel, RowsKeepTheirTextsMarksAndReadingsWithinTheGrid) {
  LoopGridModel grid;
  grid.setRowCount(0);
  EXPECT_EQ(grid.rowCount(), 1) << "the heading row stays";
  grid.setRowCount(21);
  EXPECT_TRUE(grid.setCell(1, 3, "100"));
  EXPECT_FALSE(grid.setCell(1, 3, "100")) << "unchanged: nothing to repaint";
  EXPECT_FALSE(grid.setCell(1, 21, "x"));
  EXPECT_FALSE(grid.setCell(LoopTableColumns, 3, "x"));
  EXPECT_EQ(grid.cell(1, 21), "");
  EXPECT_TRUE(grid.setMarked(20, true));
  EXPECT_FALSE(grid.setMarked(20, true));
  EXPECT_TRUE(grid.setMoved(20, true));
  grid.setReading(StateReading(5, 20, {}, 24));
  grid.setReading(StateReading(5, 40, {}, 24));
  EXPECT_EQ(grid.reading(20)->value, 24);
  grid.setChosenRow(20);
  EXPECT_EQ(grid.chosenRow(), 20);

  // Rows dropped take everything with them; rows added come back blank.
  grid.setRowCount(5);
  EXPECT_EQ(grid.chosenRow(), 0);
  grid.setRowCount(21);
  EXPECT_FALSE(grid.marked(20) || grid.moved(20) || grid.reading(20));
  EXPECT_EQ(grid.cell(1, 3), "100");
  grid.setChosenRow(0);
  EXPECT_EQ(grid.chosenRow(), 0) << "the heading row is never chosen";
  grid.setReading(AdcReading(5, 3, {}, 100, {408, -1}));
  grid.forgetReadings();
  EXPECT_FALSE(grid.reading(3));
}

TEST(LoopGridModel, CellsHitTestsAndScrollingAtTheScreensResolution) {
  LoopGridModel grid;
  grid.setColumnWidths(AdcWidths);
  grid.setRowCount(128);
  // 362 pixels hold 21 rows of 16 pixels and a grid line.
  grid.setViewport(362, 96);
  EXPECT_EQ(grid.visibleRowCount(), 21);
  EXPECT_EQ(grid.cellRect(1, 2), (Rect{91, 34, 120, 16}));
  EXPECT_EQ(grid.rowRect(2), (Rect{0, 34, 380, 16}));
  const struct {
    int x, y;
    GridCell cell;
  } hits[] = {
      {0, 0, {0, 0}}, {90, 16, {0, 0}}, {91, 17, {1, 1}},  {380, 0, {3, 0}},        {381, 0, {}},
      {-1, 5, {}},    {5, -1, {}},      {5, 128 * 17, {}}, {5, 127 * 17, {0, 127}},
  };
  for (const auto& hit : hits) {
    EXPECT_EQ(grid.cellAt(hit.x, hit.y), hit.cell) << hit.x << "," << hit.y;
  }

  // Without a scroll bar the grid never scrolls; with one, a chosen row out
  // of sight comes into it under the row before it, within the rows there are.
  grid.setChosenRow(60);
  EXPECT_EQ(grid.topRow(), 0);
  grid.setScrollBar(true);
  grid.setChosenRow(60);
  EXPECT_EQ(grid.topRow(), 59);
  EXPECT_EQ(grid.cellAt(5, 17), (GridCell{0, 60}));
  EXPECT_EQ(grid.cellRect(0, 60).top, 17);
  grid.setChosenRow(70);
  EXPECT_EQ(grid.topRow(), 59) << "already in sight";
  EXPECT_FALSE(grid.scrollTo(59));
  EXPECT_TRUE(grid.scrollTo(500));
  EXPECT_EQ(grid.topRow(), 128 - 21);
  EXPECT_EQ(grid.lastDrawnRow(), 127);
  grid.setScrollBar(false);
  EXPECT_EQ(grid.topRow(), 0);

  // At twice the resolution every length doubles, the grid lines stay thin.
  grid.setViewport(724, 192);
  EXPECT_EQ(grid.cellRect(1, 2), (Rect{181, 66, 240, 32}));
  EXPECT_EQ(grid.cellAt(181, 33), (GridCell{1, 1}));
}
