// The owner of the documents: the slot rules, the count, and that no registry
// pointer outlives the document it names.
#include <gtest/gtest.h>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/documents.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"

namespace tessara {
namespace {

TEST(Documents, SlotsCountAndRegistryFollowEveryChange) {
  CDocuments documents;
  CTessaraDoc* a = documents.OpenSource();
  CTessaraDoc* b = documents.OpenSource();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(documents.OpenSource(), nullptr);  // a third never displaces source 2
  EXPECT_EQ(g_pSourceDocs[0], a);
  EXPECT_EQ(g_pSourceDocs[1], b);
  EXPECT_EQ(g_nSourcesLoaded, 2);

  // A source window going: first the count, later the document and its slot,
  // source 2 moving up with its count.
  documents.StopCountingSource(*a);
  documents.StopCountingSource(*a);
  EXPECT_EQ(g_nSourcesLoaded, 1);
  EXPECT_EQ(g_pSourceDocs[0], a);
  documents.CloseSource(*a);
  EXPECT_EQ(g_pSourceDocs[0], b);
  EXPECT_EQ(g_pSourceDocs[1], nullptr);
  EXPECT_EQ(g_nSourcesLoaded, 1);
  EXPECT_EQ(documents.SlotOf(*b), 0);

  // A document the registry does not hold changes nothing.
  CTessaraDoc stranger;
  documents.CloseSource(stranger);
  documents.StopCountingSource(stranger);
  EXPECT_EQ(g_pSourceDocs[0], b);
  EXPECT_EQ(g_nSourcesLoaded, 1);

  CDestdoc& target = documents.MakeTarget();
  CAlignDoc& align = documents.MakeAlign();
  EXPECT_EQ(g_pDestDoc, &target);
  EXPECT_EQ(g_pAlignDoc, &align);
  documents.CloseAlign();
  EXPECT_EQ(g_pAlignDoc, nullptr);
  EXPECT_EQ(g_pDestDoc, &target);
}

TEST(Documents, TheOwnersEndLeavesNoPointerBehind) {
  {
    CDocuments documents;
    documents.MakeTarget();
    documents.MakeAlign();
    documents.OpenSource();
    documents.OpenSource();
  }
  EXPECT_EQ(g_pDestDoc, nullptr);
  EXPECT_EQ(g_pAlignDoc, nullptr);
  EXPECT_EQ(g_pSourceDocs[0], nullptr);
  EXPECT_EQ(g_pSourceDocs[1], nullptr);
  EXPECT_EQ(g_nSourcesLoaded, 0);
}

}  // namespace
}  // namespace tessara
