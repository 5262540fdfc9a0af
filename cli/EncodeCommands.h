// tarn-pak's encoding commands: "encode" (image files to game pictures, textures and sprites on
// disk) and "add --as" (images encoded on their way into an archive).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarn::cli {

// encode [OPTIONS] IN... OUT, without the command's name. Returns 0, 1 on failure, 2 on bad usage.
int RunEncode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// True when add's arguments ask for encoding (--as).
bool IsEncodingAdd(const std::vector<std::string>& args);
// add ARCHIVE --as KIND [--to DIRPATH] [OPTIONS] IMAGE..., without the command's name.
int RunAddEncoded(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarn::cli
