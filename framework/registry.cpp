#include "framework/registry.h"

namespace tessara {

namespace {

CDestdoc* s_pDestDoc = nullptr;
CAlignDoc* s_pAlignDoc = nullptr;
CTessaraDoc* s_pSourceDocs[2] = {nullptr, nullptr};
int s_nSourcesLoaded = 0;

}  // namespace

CDestdoc* const& g_pDestDoc = s_pDestDoc;
CAlignDoc* const& g_pAlignDoc = s_pAlignDoc;
CTessaraDoc* const (&g_pSourceDocs)[2] = s_pSourceDocs;
const int& g_nSourcesLoaded = s_nSourcesLoaded;

void PublishDocuments(CDestdoc* dest, CAlignDoc* align, CTessaraDoc* source1, CTessaraDoc* source2,
                      int sourcesLoaded) {
  s_pDestDoc = dest;
  s_pAlignDoc = align;
  s_pSourceDocs[0] = source1;
  s_pSourceDocs[1] = source2;
  s_nSourcesLoaded = sourcesLoaded;
}

}  // namespace tessara
