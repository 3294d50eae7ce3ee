// Temporary placeholder while this codec is being written.
#include "image/codec.h"
namespace tessara {
bool DecodePcx(ByteReader&, CxImage& img) { img.SetError("todo"); return false; }
bool EncodePcx(ByteWriter&, CxImage& img) { img.SetError("todo"); return false; }
}
