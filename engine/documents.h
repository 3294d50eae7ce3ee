// The one owner of the program's documents: the Target document, the align
// document and the two source slots. It alone sets the registry's pointers
// (framework/registry.h), which the rest of the program only reads; windows and
// the batch tool hold plain pointers and ask it to close what they are done with.
#pragma once

#include <memory>

namespace tessara {

class CTessaraDoc;
class CDestdoc;
class CAlignDoc;

class CDocuments {
 public:
  CDocuments();
  // Closes what is still open: the sources (source 2 first), the Target
  // document, the align document.
  ~CDocuments();
  CDocuments(const CDocuments&) = delete;
  CDocuments& operator=(const CDocuments&) = delete;

  // A new, empty source document in the first free slot, counted as loaded.
  // Null when both slots are taken.
  CTessaraDoc* OpenSource();
  // The source stops counting as loaded but keeps its slot until it is
  // closed: a source window's teardown tells the other windows between the
  // two. Nothing for a source that is not open or no longer counts.
  void StopCountingSource(const CTessaraDoc& doc);
  // Frees the source and its slot (counted or not); closing source 1 moves
  // source 2 into slot 1. Nothing for a document that is not open here.
  void CloseSource(const CTessaraDoc& doc);
  // Takes the source out as CloseSource does, but hands it over instead of
  // freeing it (a deletion the user may undo). Null for one not open here.
  std::unique_ptr<CTessaraDoc> TakeSource(const CTessaraDoc& doc);
  // Puts a source taken out back as source n (1 or 2), counted as loaded:
  // back as source 1, it moves the source there to slot 2. Null (and the
  // document freed) when both slots are taken.
  CTessaraDoc* PutBackSource(std::unique_ptr<CTessaraDoc> doc, int n);
  // Source 1 or 2, null when that slot is empty.
  CTessaraDoc* Source(int n) const;
  // The slot (0 or 1) holding `doc`, or -1.
  int SlotOf(const CTessaraDoc& doc) const;
  int SourcesLoaded() const;

  // The Target document (one that is open is closed first).
  CDestdoc& MakeTarget();
  void CloseTarget();
  // The align document (one that is open is closed first).
  CAlignDoc& MakeAlign();
  void CloseAlign();

 private:
  struct Slot {
    std::unique_ptr<CTessaraDoc> doc;
    bool counted = false;
  };
  // Sets the registry's pointers and count from what is held here.
  void Publish() const;

  Slot m_sources[2];
  std::unique_ptr<CDestdoc> m_pTarget;
  std::unique_ptr<CAlignDoc> m_pAlign;
};

}  // namespace tessara
