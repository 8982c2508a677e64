#pragma once

namespace lumatra {

/// Starts libvips and silences poppler's messages on standard error, once per process.
/// Safe to call from any thread, any number of times.
void initialisePdfLibraries();

} // namespace lumatra
