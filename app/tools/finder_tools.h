#pragma once
// The finders the points panel offers, in its order.
#include "app/tools/finder_tool.h"

#include <memory>
#include <vector>

std::vector<std::unique_ptr<TFinderTool>> MakeFinderTools(const TToolContext& context);
