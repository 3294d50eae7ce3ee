// The Target's commands that are not tool dialogs: Save as (the target
// document's command) and printing, preview and the printed page.
#pragma once

#include <QString>

#include "app/commands.h"

namespace tessara {

class CDestdoc;
class CDestview;

// The target document's place on the command route: Save as, enabled while the
// Target is up to date.
class CTargetDocCommands : public CCmdTarget {
 public:
  explicit CTargetDocCommands(CDestdoc* doc) : m_pDoc(doc) {}
  bool OnUpdateCommand(int id, bool& enabled) override;
  void OnCommand(int id) override;

 private:
  CDestdoc* m_pDoc;
};

// Asks for a file name and type and saves the Target (or its Zone).
void SaveTargetAs(CDestdoc& doc);

// The print dialog, then one page with the Target across its printable width.
void PrintTarget(CDestview& view);
// The same page in the print preview.
void PreviewTarget(CDestview& view);

}  // namespace tessara
