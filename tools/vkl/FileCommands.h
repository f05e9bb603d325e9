#pragma once
#include <string>

namespace vkl {
int CmdRepair(const std::string& path);
int CmdDescribe(const std::string& path, const std::string& text);
}  // namespace vkl
