#include "app/tools/pick_tool.h"

#include "app/point_list.h"

void TPickTool::Press(const TPress& press)
{
    FContext.Points->Place(press.X, press.Y);
}
