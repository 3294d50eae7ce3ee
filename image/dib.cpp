#include "image/dib.h"
namespace tessara {
int64_t DibRowStride(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }
}
