#pragma once
// The named system sounds that end a batch.

#include <QString>

namespace lumatra {

/// Plays "Glass" (the sound theme's "complete") or "Basso" ("dialog-error") through
/// the desktop's sound theme, without waiting. A missing sound, theme or sound server
/// is ignored; other names play nothing.
void playSystemSound(const QString& name);

/// Looks for a sound output and connects to it ahead (main thread), so that the first
/// batch's end plays its sound without doing that first.
void prepareSystemSounds();

} // namespace lumatra
