#pragma once

#include <ostream>
#include <string>
#include <vector>

// One run of tagwright-import: `args` are the arguments after the program name. Help goes to
// `out`; what was written and replaced, problems and the summary to `err`.
// Returns the exit status: 0 every video imported, 1 a video could not be (nothing matched it,
// its label folder holds files the import would overwrite without --force, a file could not be
// written), 2 a bad command line.
int RunImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
