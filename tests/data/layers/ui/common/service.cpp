#include <QWidget>
#include "engine/session.h"
#include "ui/shell/main_window.h"
