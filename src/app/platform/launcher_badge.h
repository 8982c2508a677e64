#pragma once
// The number on the program's launcher icon.

namespace lumatra {

/// Announces `count` on the launcher-entry D-Bus interface that docks and task managers
/// show (com.canonical.Unity.LauncherEntry); 0 hides the number. Without a session bus
/// nothing happens.
void showLauncherCount(int count);

} // namespace lumatra
