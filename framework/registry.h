// The process-wide registry of the core's documents. Documents enter it when
// they are made and leave it when they end; other classes reach one another only
// through it. The windows keep their own table (views, frames, dialogs) beside it.
#pragma once

namespace tessara {

class CTessaraDoc;
class CDestdoc;
class CAlignDoc;

// The one target document, valid for the whole run of the program.
extern CDestdoc* g_pDestDoc;
// The one align document.
extern CAlignDoc* g_pAlignDoc;
// Slot 0 is source 1, slot 1 source 2. With one source loaded it is in slot 0.
extern CTessaraDoc* g_pSourceDocs[2];
// The number of source windows that exist (0..2), counted by their frames.
extern int g_nSourcesLoaded;

}  // namespace tessara
