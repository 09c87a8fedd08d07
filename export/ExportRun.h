#pragma once

#include <ostream>
#include <string>
#include <vector>

// One run of tagwright-export: `args` are the arguments after the program name. Help goes to
// `out`; progress, messages and the summary to `err` (a bar when `errIsTerminal`).
// Returns the exit status: 0 everything exported, 1 a video or the output folder failed (the
// other videos are still exported), 2 a bad command line.
int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              bool errIsTerminal);
