#pragma once
// Keeps the text converter away from the network and from other users' files.

#include <filesystem>
#include <optional>

namespace lumatra::textutil {

/// Moves this process into a user namespace and a network namespace of its own, where
/// no network exists (not even a working loopback), so nothing a document links to can
/// be fetched. Must run while the process has a single thread. Returns false when the
/// system does not allow unprivileged namespaces; the engine's profile then sends
/// every request to a closed local port instead (Office::writeSettings).
bool enterPrivateNetwork();

/// A per-user folder for the engine's profile template ($XDG_CACHE_HOME/lumatra or
/// ~/.cache/lumatra), made with mode 0700 when missing; none when it cannot be made
/// or is not ours alone.
std::optional<std::filesystem::path> privateCacheFolder();

/// Copies the folders and regular files below `from` into the new folder `to`
/// (symbolic links and anything else are left out). Returns false on any failure.
bool copyTree(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace lumatra::textutil
