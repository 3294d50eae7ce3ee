// Temporary placeholder while this codec is being written.
#include "image/codec.h"
namespace tessara {
bool DecodeTga(ByteReader&, CxImage& img) { img.SetError("todo"); return false; }
bool EncodeTga(ByteWriter&, CxImage& img) { img.SetError("todo"); return false; }
}
