#pragma once
// The one failure of the text converter: a complete Russian sentence for its error output.

#include <stdexcept>
#include <string>

namespace lumatra::textutil {

class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

/// "<action> «<path>»: <reason of errno>".
ToolError systemFailure(const std::string& action, const std::string& path, int errorNumber);

} // namespace lumatra::textutil
