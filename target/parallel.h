// The worker pool helpers live with the picture code, which uses them too.
#pragma once

#include "image/parallel.h"
