#pragma once
// A window as it was laid out at 96 DPI: its client size, its font, and per
// control the kind, rectangle, text, hint, font and place in the tab order.
// Both front ends build their windows from it and place the controls with
// placeControl, so what a window shows and where is written once.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace loopmon {

struct Colour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool operator==(const Colour&) const = default;
};

// A rectangle or a size; at 96 DPI in a form, in pixels once placed.
struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
  bool operator==(const Rect&) const = default;
};
struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

struct FontSpec {
  // As designed; a front end takes the nearest face it has.
  const char* family = "MS Sans Serif";
  // The character cell's height at 96 DPI.
  int pixelHeight = 11;
  bool bold = false;
  // Every character as wide as the others: a stand-in for a missing face is too.
  bool fixedPitch = false;
};

enum class ControlKind : uint8_t {
  Label,         // static text; "_1" in it is a subscript 1
  PushButton,    // text, or an image when `icon` is set
  LatchButton,   // an image button that stays down until clicked again
  TogglePanel,   // a panel with a centred caption, lowered or raised
  Edit,          // one line of text
  CodeEdit,      // an edit that shows "#" for every character
  SpinEdit,      // a number with arrows beside it
  DropDownList,  // a list that drops down, no typing
  ListBox,
  ProgressBar,
  CheckBox,   // a box ticked on and off, its text beside it
  LoopTable,  // the loop table grid
  Plot,       // a loop's history drawn
  ModelList,  // a list box that draws its rows from its window's model and keeps no texts
};

enum class ButtonIcon : uint8_t { None, Search, Read, Tools, Periodic };

// How a control follows a window larger than designed.
enum class Follow : uint8_t {
  Fixed,    // stays where it was designed
  Stretch,  // grows with the window
  Move,     // keeps its distance to the far edge
  Centre,   // moves by half, keeping a centred group centred
};

struct ControlForm {
  int id = 0;
  // The control's role, "readButton": Qt's object name, the tests' handle.
  const char* name = "";
  ControlKind kind = ControlKind::Label;
  Rect rect;
  const char* text = "";
  const char* hint = "";
  // 1, 2, ...: the order in which Tab visits the control; 0: Tab passes it by.
  int tabOrder = 0;
  // Null: the window's font.
  const FontSpec* font = nullptr;
  bool enabled = true;
  ButtonIcon icon = ButtonIcon::None;
  Follow horizontal = Follow::Fixed;
  Follow vertical = Follow::Fixed;
  // A label that takes the width of its text (and at least its designed height).
  bool sizedToText = false;
  // The button Enter presses when no other button has the focus.
  bool defaultButton = false;
  // Edits: characters at most (0: no limit). Spin edits: the range of the arrows.
  int maxLength = 0;
  int minimum = 0;
  int maximum = 0;
};

struct WindowForm {
  // The window's role, "mainWindow".
  const char* name = "";
  const char* title = "";
  Size client;
  FontSpec font;
  // The user may make it larger than designed (never smaller).
  bool resizable = false;
  // A fixed window the user can still put aside on the task bar.
  bool minimizable = false;
  bool topmost = false;
  std::span<const ControlForm> controls;

  const ControlForm& control(int id) const;
};

// A length of the 96 DPI design at `dpi`, rounded to the nearest pixel.
int scaled(int at96, int dpi);

// The client area at `dpi` of a window `extra` pixels larger than designed.
Size clientSize(const WindowForm& form, int dpi, Size extra = {});
// Where a control stands at `dpi` in a window `extra` pixels larger than designed.
Rect placeControl(const ControlForm& control, int dpi, Size extra = {});
// How much larger than designed a client area of `client` pixels is (never less than 0).
Size extraSize(const WindowForm& form, int dpi, Size client);

// Where a window of `outer` size (frame included) opens beside `anchor` (the
// main window's frame) within the screen's work area: to its right where
// there is room, else to its left, else against the side with more room;
// level with its top. Never past the work area's left or top edge.
Rect placedBeside(const Rect& anchor, Size outer, const Rect& workArea);

// A text cut into runs of plain and subscript text: "R_1" is "R" and a
// subscript "1".
struct TextRun {
  std::string text;
  bool subscript = false;
};
std::vector<TextRun> textRuns(std::string_view text);
// The text as one plain line, the subscripts inline: "R1".
std::string plainText(std::string_view text);
// A subscript's cell height and how far below the line's top it starts, for
// a line in a font `pixelHeight` high (both at the same DPI).
int subscriptHeight(int pixelHeight);
int subscriptDrop(int pixelHeight);

}  // namespace loopmon
