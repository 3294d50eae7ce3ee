// Temporary placeholder while this codec is being written.
#include "image/codec.h"
namespace tessara {
bool DecodeTiff(ByteReader&, CxImage& img) { img.SetError("todo"); return false; }
bool EncodeTiff(ByteWriter&, CxImage& img) { img.SetError("todo"); return false; }
}
