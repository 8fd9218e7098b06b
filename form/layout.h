#pragma once
// The window's layout as data: every frame, label, box, button, the check box
// and the line with its name, kind, caption or initial text, place and size in
// twips (15 to a pixel at 96 dots per inch) and tab index; the menus; the
// focus order. Both windows draw from it and the layout tests read it.
#include <span>
#include <string_view>

namespace velmora::form {

enum class Kind {
  Frame,       // a captioned group box
  Check,       // the check box
  Label,       // left-aligned, wrapping
  RightLabel,  // an item label: right-aligned, wrapping, names the box after it
  Numeric,     // a number box: right-aligned, no input method
  Result,      // read-only, right-aligned, light blue
  File,        // read-only file name
  Button,
  Line,        // a horizontal rule: left/top are its start, width its length
  Progress,    // shown only while a batch runs
};

struct Control {
  std::string_view name;
  Kind kind;
  std::string_view parent;   // "client" or the frame holding it
  std::string_view caption;  // caption or initial text (UTF-8, "&" before the access key)
  int left, top, width, height;  // twips, from the top-left corner of the parent
  int tab;  // tab index; -1 for the controls shown only during a batch run
};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidth = 10065;  // twips
inline constexpr int kClientHeight = 5640;
inline constexpr std::string_view kWindowCaption = "Velmora";

// Every control in creation order: frames before their contents, and every
// box right after its item label (screen readers name a box by the label
// created just before it).
std::span<const Control> Controls();
// Nullptr for an unknown name.
const Control* FindControl(std::string_view name);
// The item label of a box (the control created just before it), or nullptr.
const Control* ItemLabel(std::string_view box);
// A caption without its access-key marker, and an item label without its
// closing full-width colon (what a screen reader calls the box).
std::string_view AccessibleName(const Control& itemLabel);

// The controls that take the focus, in tab order (a disabled one is skipped).
std::span<const std::string_view> FocusOrder();

struct MenuItem {
  std::string_view name;
  std::string_view caption;
  std::string_view menu;  // empty for a menu of the bar
  bool checkable = false;
};
// Menus of the bar, each followed by its items, in order.
std::span<const MenuItem> Menus();

}  // namespace velmora::form
