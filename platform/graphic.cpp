#include "platform/graphic.h"

#include "platform/streams.h"

bool TGraphicClass::InheritsFrom(const TGraphicClass& other) const
{
    for (const TGraphicClass* c = this; c; c = c->Parent)
        if (c == &other)
            return true;
    return false;
}

const TGraphicClass& TGraphic::ClassType()
{
    static const TGraphicClass info{"TGraphic", nullptr, nullptr, &TGraphic::CanLoadStream};
    return info;
}

void TGraphic::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead);
    LoadFromStream(stream);
}

void TGraphic::Progress(TGraphic* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                        const TRect& r, const std::string& msg)
{
    if (OnProgress)
        OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

void TGraphic::Changed()
{
    if (OnChange)
        OnChange(this);
}
