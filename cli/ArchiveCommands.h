// The commands on an archive as a whole and its files: list, extract, create, repack, add, rm,
// rename, cat and check.
#pragma once

#include <string>
#include <vector>

#include "cli/CommandSupport.h"

namespace tarn::cli {

int CmdList(const Context& ctx, const std::vector<std::string>& args);
int CmdExtract(const Context& ctx, const std::vector<std::string>& a);
int CmdCreate(const Context& ctx, const std::vector<std::string>& args);
int CmdRepack(const Context& ctx, const std::vector<std::string>& args);
int CmdAdd(const Context& ctx, const std::vector<std::string>& a);
int CmdRm(const Context& ctx, const std::vector<std::string>& args);
int CmdRename(const Context& ctx, const std::vector<std::string>& args);
int CmdCat(const Context& ctx, const std::vector<std::string>& args);
int CmdCheck(const Context& ctx, const std::vector<std::string>& args);

}  // namespace tarn::cli
