// The process-wide registry of the core's documents: how any part of the
// program finds the Target document, the align document and the sources. The
// documents are owned and the pointers set by one object, CDocuments
// (engine/documents.h); everything else reads them and never frees a document
// through them. The windows keep their own table (views, frames, dialogs)
// beside it.
#pragma once

namespace tessara {

class CTessaraDoc;
class CDestdoc;
class CAlignDoc;

// The one target document, valid for the whole run of the program.
extern CDestdoc* const& g_pDestDoc;
// The one align document.
extern CAlignDoc* const& g_pAlignDoc;
// Slot 0 is source 1, slot 1 source 2. With one source loaded it is in slot 0.
extern CTessaraDoc* const (&g_pSourceDocs)[2];
// The number of sources loaded (0..2): a source counts from its opening until
// its window starts to go (its document keeps its slot a little longer).
extern const int& g_nSourcesLoaded;

// What the owner of the documents has now. Called by CDocuments only.
void PublishDocuments(CDestdoc* dest, CAlignDoc* align, CTessaraDoc* source1, CTessaraDoc* source2,
                      int sourcesLoaded);

}  // namespace tessara
