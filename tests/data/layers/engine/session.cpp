#include "image/picture.h"
#include <QString>
