// Where the program's shipped data lives, and how a correction file named by
// a relative path is found: in the working directory first (as always), and
// only when no such file is there, in the data folder installed with the
// program (bin/../share/audimera; the build tree mirrors it as
// build/share/audimera). So the two shipped curves load wherever the program
// is started from, and a file of the user's in the working directory still
// wins. Any thread; touches only the file system.
#pragma once

#include <string>

namespace audimera {

namespace DataFolder {

// The data folder of the running program: its executable's folder joined
// with the relative path of the installed layout (common/BuildInfo.h).
std::string installed();

// The path to open for the correction file `name`: `name` itself when it is
// empty or absolute or when anything of that name is in the working
// directory (or cannot be looked at: the loader then says why); otherwise
// folder/name when that exists; otherwise `name`, so that the error message
// names the file as it was asked for.
std::string locate(const std::string& name, const std::string& folder);

} // namespace DataFolder

} // namespace audimera
