// The commands on one entry by its kind: info, convert, and the map commands wad, ents, bspx
// and maptex, and modeledit.
#pragma once

#include <string>
#include <vector>

#include "cli/CommandSupport.h"

namespace tarn::cli {

int CmdInfo(const Context& ctx, const std::vector<std::string>& args);
int CmdConvert(const Context& ctx, const std::vector<std::string>& args);
int CmdWad(const Context& ctx, const std::vector<std::string>& args);
int CmdEnts(const Context& ctx, const std::vector<std::string>& args);
int CmdBspx(const Context& ctx, const std::vector<std::string>& a);
int CmdMapTex(const Context& ctx, const std::vector<std::string>& a);
int CmdModelEdit(const Context& ctx, const std::vector<std::string>& a);

}  // namespace tarn::cli
