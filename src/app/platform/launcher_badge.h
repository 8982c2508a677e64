#pragma once
// The number on the program's launcher icon.

namespace lumatra {

/// Announces `count` on the launcher-entry D-Bus interface that docks and task managers
/// show (com.canonical.Unity.LauncherEntry); 0 hides the number. `progress` in [0, 1]
/// shows a bar on the icon as well; a negative one hides it. Without a session bus
/// nothing happens.
void showLauncherCount(int count, double progress = -1);

} // namespace lumatra
