// `vexlan demo`: renders the sample scene's passes into a folder, then runs
// every tool group's demo steps on them through the same code as
// `vexlan render`, writing each result with a PNG preview beside it.
#pragma once

#include <iosfwd>
#include <string>

// Returns 0 when every pass and step was written, 1 when any failed (the
// demo goes on past a failed step).
int RunDemo(const std::string& folder, std::ostream& out, std::ostream& err);
