#include "framework/registry.h"

namespace tessara {

CDestdoc* g_pDestDoc = nullptr;
CAlignDoc* g_pAlignDoc = nullptr;
CTessaraDoc* g_pSourceDocs[2] = {nullptr, nullptr};
int g_nSourcesLoaded = 0;

}  // namespace tessara
