#pragma once
// Snapping: a press lands on the crossing or corner of printed lines under
// it, found to a fraction of a pixel, or on the whole pixel pressed when
// Shift is held or nothing trustworthy is there. The status bar says what
// was found, and the magnifier shows the pixel pressed and where the point
// went.
#include "app/tools/pick_tool.h"

class TSnapTool : public TClickTool {
public:
    explicit TSnapTool(const TToolContext& context) : FContext(context), FPick(context) {}
    void Press(const TPress& press) override;

private:
    TToolContext FContext;
    TPickTool FPick;
};
