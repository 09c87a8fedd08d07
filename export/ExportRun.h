#pragma once

#include <ostream>
#include <string>
#include <vector>

struct ExportStop;

// One run of tagwright-export: `args` are the arguments after the program name. Help goes to
// `out`; progress, messages and the summary to `err` (a bar when `errIsTerminal`).
// Returns the exit status: 0 everything exported, 1 a video, a labelled frame or the output
// folder failed (the other videos are still exported), 2 a bad command line, 128 + the signal
// when `stop` asked the run to stop (OUT is then marked incomplete).
int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              bool errIsTerminal, ExportStop* stop = nullptr);
