#include "image/codec.h"
namespace tessara {
bool DecodeBmp(ByteReader&, CxImage& img) { img.SetError("todo"); return false; }
}
