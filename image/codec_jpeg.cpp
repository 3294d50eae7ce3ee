// Temporary placeholder while this codec is being written.
#include "image/codec.h"
namespace tessara {
bool DecodeJpeg(ByteReader&, CxImage& img) { img.SetError("todo"); return false; }
bool EncodeJpeg(ByteWriter&, CxImage& img) { img.SetError("todo"); return false; }
}
