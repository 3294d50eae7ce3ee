#include "ui/dialogs/dialog.h"
#include "ui/views/other_view.h"
