// The alignment as one value: what the Align Window, its commands, the Rotate
// dialog and Fine Adjustment change in the session. Undo takes a copy before a
// change and puts it back later; the stack of such copies belongs to the
// windows, the copying and putting back live here, without Qt.
#pragma once

#include "engine/prepare_source.h"
#include "engine/session.h"

namespace tessara {

class CAlignDoc;
class CDestdoc;

// The session's alignment now.
AlignSettings TakeAlignSettings(const CDestdoc& session);

// Writes `settings` into the session's fields only (nothing is prepared).
void PutAlignSettings(CDestdoc& session, const AlignSettings& settings);

// Puts `settings` back into the session: both sources are prepared again for
// it, the preview is rebuilt (showing why when a preparation fails) and the
// Target needs updating. Returns the preparation's result.
PrepareResult RestoreAlignSettings(CAlignDoc& doc, CDestdoc& session, const AlignSettings& settings);

}  // namespace tessara
