// Temporary placeholder while this codec is being written.
#include "image/codec.h"
namespace tessara {
bool DecodePng(ByteReader&, CxImage& img) { img.SetError("todo"); return false; }
bool EncodePng(ByteWriter&, CxImage& img) { img.SetError("todo"); return false; }
}
