#include "desktop/form.h"

#include <algorithm>
#include <stdexcept>

namespace loopmon {

namespace {

// Where a side of a control goes when its window is `extra` pixels larger.
void follow(Follow how, int extra, int& start, int& length) {
  switch (how) {
    case Follow::Fixed:
      break;
    case Follow::Stretch:
      length += extra;
      break;
    case Follow::Move:
      start += extra;
      break;
    case Follow::Centre:
      start += extra / 2;
      break;
  }
}

}  // namespace

const ControlForm& WindowForm::control(int id) const {
  const auto found =
      std::find_if(controls.begin(), controls.end(), [id](const auto& c) { return c.id == id; });
  if (found == controls.end()) throw std::logic_error(std::string(name) + ": no such control");
  return *found;
}

Rect placedBeside(const Rect& anchor, Size outer, const Rect& workArea) {
  const int roomRight = workArea.right() - anchor.right();
  const int roomLeft = anchor.left - workArea.left;
  int left = anchor.right();
  if (roomRight < outer.width) {
    if (roomLeft >= outer.width) {
      left = anchor.left - outer.width;
    } else {
      left = roomRight >= roomLeft ? workArea.right() - outer.width : workArea.left;
    }
  }
  const int top = std::min(anchor.top, workArea.bottom() - outer.height);
  return {std::max(left, workArea.left), std::max(top, workArea.top), outer.width, outer.height};
}

int scaled(int at96, int dpi) {
  // As MulDiv rounds: half away from zero.
  const long long product = static_cast<long long>(at96) * dpi;
  return static_cast<int>(product >= 0 ? (product + 48) / 96 : (product - 48) / 96);
}

Size clientSize(const WindowForm& form, int dpi, Size extra) {
  return {scaled(form.client.width, dpi) + extra.width,
          scaled(form.client.height, dpi) + extra.height};
}

Rect placeControl(const ControlForm& control, int dpi, Size extra) {
  // Both edges are scaled, so that controls designed side by side stay so.
  const Rect& at96 = control.rect;
  Rect placed{scaled(at96.left, dpi), scaled(at96.top, dpi), 0, 0};
  placed.width = scaled(at96.right(), dpi) - placed.left;
  placed.height = scaled(at96.bottom(), dpi) - placed.top;
  follow(control.horizontal, extra.width, placed.left, placed.width);
  follow(control.vertical, extra.height, placed.top, placed.height);
  return placed;
}

Size extraSize(const WindowForm& form, int dpi, Size client) {
  const Size designed = clientSize(form, dpi);
  return {std::max(0, client.width - designed.width), std::max(0, client.height - designed.height)};
}

std::vector<TextRun> textRuns(std::string_view text) {
  std::vector<TextRun> runs;
  auto append = [&runs](std::string_view piece, bool subscript) {
    if (piece.empty()) return;
    if (runs.empty() || runs.back().subscript != subscript) runs.push_back({{}, subscript});
    runs.back().text += piece;
  };
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '_' && at + 1 < text.size()) {
      append(text.substr(++at, 1), true);
    } else {
      append(text.substr(at, 1), false);
    }
  }
  return runs;
}

std::string plainText(std::string_view text) {
  std::string plain;
  for (const TextRun& run : textRuns(text)) plain += run.text;
  return plain;
}

int subscriptHeight(int pixelHeight) {
  return std::max(5, (pixelHeight * 5 + 4) / 8);
}

int subscriptDrop(int pixelHeight) {
  return (pixelHeight * 9 + 8) / 16;
}

}  // namespace loopmon
