#pragma once
// Picking: a press places the selected point on the whole pixel pressed.
#include "app/tools/tool_context.h"

class TPickTool : public TClickTool {
public:
    explicit TPickTool(const TToolContext& context) : FContext(context) {}
    void Press(const TPress& press) override;

private:
    TToolContext FContext;
};
