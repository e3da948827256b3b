// `vexlan list` and `vexlan info`: the registered tools and what one tool
// takes, read back from the records and the inputs' attribute lists.
#pragma once

#include <iosfwd>

#include "host/operator.h"

class Registry;

// The kind of an input as `vexlan info` names it: label, number, choice, image.
const char* KindWord(InputKind kind);

// One line per tool, in registry order: registry ID, name, category,
// description, in aligned columns.
void ListTools(std::ostream& out);

// The tool's record, then its page with every input in creation order, then
// its output.
void DescribeTool(const Registry& reg, std::ostream& out);
