// Every modal dialog of the program runs through ExecModal, so that the window
// tests can answer a dialog (a file dialog with a path, a message box with a
// button) without a person at the keyboard. Nothing sets the hook in the
// program itself.
#pragma once

#include <functional>
#include <optional>

class QDialog;

namespace tessara {

// Answers a dialog in place of the user: the dialog's result (as exec() would
// return it), or nothing to run the dialog for real.
using ModalHook = std::function<std::optional<int>(QDialog&)>;
void SetModalHook(ModalHook hook);

// Runs `dialog` modally (or lets the hook answer it) and returns its result.
int ExecModal(QDialog& dialog);

}  // namespace tessara
