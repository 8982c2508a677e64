#pragma once
// The command-line mode: one conversion, progress lines and a result line.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumatra::Main {

/// The element after the first element equal to `flag`; nothing when the flag is
/// absent or last.
std::optional<std::string> value(const std::vector<std::string>& arguments, std::string_view flag);

/// Converts `file` as `--to`, `--quality` and `--out` say, printing "[N%]" lines and
/// "Готово: …" or "Ошибка: …" to standard output. Returns the exit status: 0 done,
/// 1 failed or cancelled (SIGINT, SIGTERM, SIGHUP, SIGQUIT), 2 no usable `--to`, an
/// unknown switch or a `--jobs` that is no count of cores. A standard output that was
/// closed meanwhile does not stop the conversion. Several files, or a folder (every
/// element that is no switch or switch value is one), are converted by convertMany
/// with the budget of `--jobs`, or every core.
int cli(const std::vector<std::string>& arguments, const std::string& file);

/// `--targets FILE…`, for the file manager's menu: prints the formats every one of the
/// files can be converted to, one "format<TAB>title" line each, in the catalog's order.
/// When they share none and are of several kinds, prints for each kind (in the
/// catalog's order) a "#<TAB>kind title" line and the formats its files share. A folder
/// stands for its entries, a "file://" URI for its path. Returns 0, or 2 without files.
int listTargets(const std::vector<std::string>& inputs);

/// The Russian usage text of `--help`, with the targets of each kind.
std::string usage();

/// `--cli` without a file: one line saying how to call it; returns status 1.
int cliWithoutFile();

/// Whether a window could be shown: Qt's platform is chosen explicitly, or a Wayland
/// or X display is named and its socket exists.
bool hasDisplay();

} // namespace lumatra::Main
