// The groups of commands the driver answers. Each group adds its handlers to
// the table; the protocol itself is described in driver.cpp.
#pragma once

#include "Command.h"

namespace kivo::driver {

class ProcessWatch;

// Windows: finding, describing, texts, messages, clicks, focus, dialogs.
void AddWindowCommands(CommandTable& table);
// Controls whose contents live in the target: combo boxes, check boxes,
// list views, tooltips, and a generic message with a record in the target.
void AddControlCommands(CommandTable& table);
// Processes: listing, environment, exit codes, language settings.
void AddProcessCommands(CommandTable& table, ProcessWatch& watch);
// Popup menus tracked by other processes.
void AddMenuCommands(CommandTable& table);

}  // namespace kivo::driver
