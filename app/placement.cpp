#include "app/placement.h"

#include <algorithm>
#include <cmath>

namespace varnok::app {

WindowRect FitToScreen(WindowRect r, int screenWidth, int screenHeight) {
    r.width = std::min(r.width, screenWidth);
    r.height = std::min(r.height, screenHeight);
    if (r.width < 1) r.width = 1;
    if (r.height < 1) r.height = 1;
    if (r.x + r.width > screenWidth) r.x = screenWidth - r.width;
    if (r.y + r.height > screenHeight) r.y = screenHeight - r.height;
    r.x = std::max(r.x, 0);
    r.y = std::max(r.y, 0);
    return r;
}

std::array<int, 2> StatusPanelWidths(int barWidth) {
    return {static_cast<int>(std::lround(barWidth * 0.36)), static_cast<int>(std::lround(barWidth * 0.27))};
}

int DockedLogHeight(int stored, int minimum) {
    return std::max(stored - kLogFrameAllowance, minimum);
}

int StoredLogHeight(int paneHeight, bool floating) {
    return floating ? paneHeight : paneHeight + kLogFrameAllowance;
}

Dock DockOfName(const std::string& name) {
    if (name.empty()) return Dock::Floating;
    if (name == "vnDockBottom") return Dock::Bottom;
    if (name == "vnDockLeft") return Dock::Left;
    if (name == "vnDockRight") return Dock::Right;
    return Dock::Top;
}

std::string NameOfDock(Dock d) {
    switch (d) {
        case Dock::Top:
            return "vnDockTop";
        case Dock::Bottom:
            return "vnDockBottom";
        case Dock::Left:
            return "vnDockLeft";
        case Dock::Right:
            return "vnDockRight";
        case Dock::Floating:
            return "";
    }
    return "vnDockTop";
}

}  // namespace varnok::app
