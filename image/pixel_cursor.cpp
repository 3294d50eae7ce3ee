#include "image/dib.h"
