#include "framework/service.h"
#include "image/picture.h"
