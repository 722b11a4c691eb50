#include <cstdio>

#include "cli/commands.h"

namespace veld {

int RunSearchCommand(const std::vector<std::string>& args) {
    std::fprintf(stderr, "veld-cli search: not built yet\n");
    return 2;
}

}  // namespace veld
