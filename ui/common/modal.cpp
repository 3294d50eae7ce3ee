#include "ui/common/modal.h"

#include <QDialog>

namespace tessara {

namespace {
ModalHook g_hook;
}

void SetModalHook(ModalHook hook) { g_hook = std::move(hook); }

int ExecModal(QDialog& dialog) {
  if (g_hook) {
    if (std::optional<int> answer = g_hook(dialog)) return *answer;
  }
  return dialog.exec();
}

}  // namespace tessara
