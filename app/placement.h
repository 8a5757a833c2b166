// The main window's layout rules: restoring the window rectangle on the screen, the status bar's panel
// widths, the log pane's height and the toolbar's dock names.
#pragma once

#include <array>
#include <string>

namespace varnok::app {

// The window's size at the first start: the entry list shows its nine columns at their default widths (1095
// pixels, with the list's frame and scroll bar beside them), and the window still fits a 1366 x 768 screen.
inline constexpr int kDefaultWindowWidth = 1140;
inline constexpr int kDefaultWindowHeight = 640;

struct WindowRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// The stored rectangle fitted to a screen of the given size: width and height at most the screen's; a window
// that would leave the screen at the right or bottom moves left or up; negative coordinates become 0.
WindowRect FitToScreen(WindowRect r, int screenWidth, int screenHeight);

// Widths of status panels 0 and 1 for a bar of the given width: 36 % and 27 %, rounded.
std::array<int, 2> StatusPanelWidths(int barWidth);
// The first widths of panels 0 and 1 when the panels are made.
inline constexpr int kStatusPanel0Width = 210;
inline constexpr int kStatusPanel1Width = 163;

// The docked log pane's height from the stored tbLogHeight (the stored value counts the pane's frame), never
// below minimum; and the value stored for a pane of a given height. The two are inverse, so the height stays
// the same from run to run.
int DockedLogHeight(int stored, int minimum);
int StoredLogHeight(int paneHeight, bool floating);
inline constexpr int kLogFrameAllowance = 22;

// tbLogVisible: 0 hidden and docked, 1 visible and docked, 2 hidden and floating, 3 visible and floating.
inline bool LogVisibleOf(int tbLogVisible) {
    return tbLogVisible == 1 || tbLogVisible == 3;
}
inline bool LogFloatingOf(int tbLogVisible) {
    return tbLogVisible == 2 || tbLogVisible == 3;
}
inline int LogStateOf(bool visible, bool floating) {
    return (visible ? 1 : 0) + (floating ? 2 : 0);
}

// Toolbar docks by their stored names ("vnDockTop", "vnDockBottom", "vnDockLeft", "vnDockRight"; ""
// floating).
enum class Dock { Top, Bottom, Left, Right, Floating };
Dock DockOfName(const std::string& name);
std::string NameOfDock(Dock d);

}  // namespace varnok::app
