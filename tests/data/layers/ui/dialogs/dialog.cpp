#include "ui/common/service.h"
