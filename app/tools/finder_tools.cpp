#include "app/tools/finder_tools.h"

#include "app/tools/corner_tool.h"
#include "app/tools/grid_tool.h"

std::vector<std::unique_ptr<TFinderTool>> MakeFinderTools(const TToolContext& context)
{
    std::vector<std::unique_ptr<TFinderTool>> tools;
    tools.push_back(std::make_unique<TCornerTool>(context));
    tools.push_back(std::make_unique<TGridTool>(context));
    return tools;
}
