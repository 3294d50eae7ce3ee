#include "ui/views/view.h"
#include "ui/dialogs/dialog.h"
#include "ui/common/service.h"
