#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

bool TBitmap::CanLoadStream(TStream&) { return false; }
void TBitmap::LoadFromStream(TStream&) { throw EInvalidGraphic("Bitmap image is not valid"); }
void TBitmap::LoadDIB(TStream&, int64_t, int64_t) { throw EInvalidGraphic("Bitmap image is not valid"); }
