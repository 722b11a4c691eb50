// The help texts of veld-cli: the overview of every command (veld-cli --help)
// and one page per command (veld-cli help COMMAND, veld-cli COMMAND --help).
// The manual page veld-cli(1) says the same at length.
#pragma once

#include <string>
#include <vector>

namespace veld {

std::string CliOverviewText();
// The page of one command; "" when there is no such command.
std::string CliCommandHelpText(const std::string& command);
// The commands, in the order the overview lists them.
const std::vector<std::string>& CliCommandNames();

}  // namespace veld
