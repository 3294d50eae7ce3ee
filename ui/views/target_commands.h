// The Target's commands: Save as (the target document's command), printing,
// preview and the printed page, and the tool commands that open the modeless
// dialogs (one of each at a time).
#pragma once

#include <QString>

#include "ui/common/commands.h"

namespace tessara {

class CDestdoc;
class CDestview;

namespace target_command_text {
// Saving or printing asked for while there is no Target to take the picture from.
inline constexpr const char* kGenerateFirst = "Cannot proceed: generate the Target first.";
}  // namespace target_command_text

// Whether there is a Target to save or print; says so in a message box when
// there is none.
bool HaveTargetToOutput(const CDestdoc& doc);

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

// The tool commands of the Target view: Fine Alignment, Merge Sources, Contrast
// Brightness, Cylindrical Projection, Grid lines. True when `id` is one of them;
// `enabled` then says whether it may run now.
bool UpdateToolCommand(int id, const CDestdoc& doc, bool& enabled);
// Opens the command's dialog, unless one of its kind is open already (then
// nothing happens and the open one stays where it is).
void RunToolCommand(int id, CDestview& view);
// Whether both prepared sources are 1-bit, so that the monochrome merge applies.
bool SourcesAreMonochrome(const CDestdoc& doc);
// Whether the sources are too shallow for the cylindrical projection.
bool SourcesTooShallowForProjection(const CDestdoc& doc);

// The print dialog, then one page with the Target across its printable width.
void PrintTarget(CDestview& view);
// The same page in the print preview.
void PreviewTarget(CDestview& view);

}  // namespace tessara
