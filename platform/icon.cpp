#include "platform/icon.h"
#include "platform/exceptions.h"

PW_DEFINE_GRAPHIC_CLASS(TIcon, TGraphic)
TIcon::TIcon() : FBitmap(std::make_unique<TBitmap>()) {}
TIcon::~TIcon() = default;
int TIcon::Width() const { return FBitmap->Width(); }
int TIcon::Height() const { return FBitmap->Height(); }
bool TIcon::CanLoadStream(TStream&) { return false; }
void TIcon::LoadFromStream(TStream&) { throw EInvalidGraphic("Icon image is not valid"); }
void TIcon::SetPngDecoder(TPngDecoder) {}
