// Whether the window runs under a Wayland compositor, which the window and its boxes both ask.
#pragma once

#include <QGuiApplication>

namespace vardek::panel {

// A Wayland compositor places windows and hands out the activation itself, and refuses a
// client's requests for either.
inline bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

}  // namespace vardek::panel
