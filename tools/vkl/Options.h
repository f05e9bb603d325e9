#pragma once
// Option checks shared by the commands.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace vkl {

// A whole number typed as plain decimal digits, from `min` to `max`: "-1", "+3", "1e9"
// and numbers too large for their option are refused with one short line.
std::string CheckWholeNumber(const std::string& text, uint64_t min, uint64_t max);

inline CLI::Validator WholeNumber(uint64_t min, uint64_t max)
{
    return CLI::Validator([min, max](std::string& text) { return CheckWholeNumber(text, min, max); }, "", "");
}

}  // namespace vkl
