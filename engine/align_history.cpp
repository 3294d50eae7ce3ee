#include "engine/align_history.h"

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "framework/user_interface.h"

namespace tessara {

AlignSettings TakeAlignSettings(const CDestdoc& s) { return s.m_align; }

PrepareResult RestoreAlignSettings(CAlignDoc& doc, CDestdoc& s, const AlignSettings& a) {
  PutAlignSettings(s, a);
  s.MarkNeedsUpdate();
  // Both sources are prepared again: Fine Adjustment changes the numbers
  // without preparing, so what is prepared now need not match either side.
  PrepareResult code = s.PrepareSource(1);
  if (code == kPrepareDone) code = s.PrepareSource(2);
  doc.RebuildPreview(code);
  RefreshToolDialogs();
  return code;
}

void PutAlignSettings(CDestdoc& s, const AlignSettings& a) { s.m_align = a; }

}  // namespace tessara
