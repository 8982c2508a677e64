#pragma once
// Desktop notifications: a line in the desktop's notification area.

#include <QString>

namespace lumatra {

/// Shows `summary` and `body` through org.freedesktop.Notifications on the session bus.
/// Returns at once and never waits for an answer: without a bus or a notification
/// server nothing is shown and nothing blocks.
void showDesktopNotification(const QString& summary, const QString& body);

} // namespace lumatra
