#include "cli/console_views.h"

#include <unistd.h>

#include <utility>

#include "loops/loop_layout.h"

#include "cli/cli_args.h"
#include "cli/output.h"

namespace loopmon::cli {

void ConsoleSearchView::showError(const std::string& text, const std::string&) {
  throw CliError(text);
}

ConsoleLoopTable::ConsoleLoopTable(SelectedDevice device, int rows, bool adcView, bool periodic,
                                   int periodSeconds)
    : device_(device),
      adcView_(adcView),
      periodic_(periodic),
      periodSeconds_(periodSeconds),
      cells_(rows, std::vector<std::string>(3)),
      marks_(rows, false) {
  WriteHeadings();
  for (int row = 1; row < rows; ++row) cells_[row][0] = std::to_string(row);
}

void ConsoleLoopTable::WriteHeadings() {
  const LoopColumns& columns = LoopColumnsFor(adcView_);
  for (int column = 0; column < Columns(); ++column) cells_[0][column] = columns.headings[column];
}

std::string ConsoleLoopTable::Cell(int column, int row) const {
  if (row < 0 || row >= RowCount() || column < 0 || column > 2) return "";
  return cells_[row][column];
}

void ConsoleLoopTable::SetCell(int column, int row, const std::string& text) {
  if (row < 0 || row >= RowCount() || column < 0 || column > 2) return;
  cells_[row][column] = text;
}

bool ConsoleLoopTable::SkipMark(int row) const {
  return row >= 0 && row < RowCount() && marks_[row];
}

void ConsoleLoopTable::SetSkipMark(int row, bool marked) {
  if (row > 0 && row < RowCount()) marks_[row] = marked;
}

void ConsoleLoopTable::ClearTable() {
  for (int row = 0; row < ClearedRows && row < RowCount(); ++row) {
    cells_[row][0].clear();
    cells_[row][1].clear();
  }
  WriteHeadings();
}

void ConsoleLoopTable::ShowMessage(const std::string& text) {
  printLine(stderr, text);
}

}  // namespace loopmon::cli
