#include "engine/documents.h"

#include <utility>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"

namespace tessara {

CDocuments::CDocuments() { Publish(); }

CDocuments::~CDocuments() {
  for (int slot = 1; slot >= 0; --slot)
    if (m_sources[slot].doc) CloseSource(*m_sources[slot].doc);
  CloseTarget();
  CloseAlign();
}

CTessaraDoc* CDocuments::OpenSource() {
  for (Slot& slot : m_sources) {
    if (slot.doc) continue;
    slot.doc = std::make_unique<CTessaraDoc>();
    slot.counted = true;
    Publish();
    return slot.doc.get();
  }
  return nullptr;
}

void CDocuments::StopCountingSource(const CTessaraDoc& doc) {
  const int slot = SlotOf(doc);
  if (slot < 0 || !m_sources[slot].counted) return;
  m_sources[slot].counted = false;
  Publish();
}

void CDocuments::CloseSource(const CTessaraDoc& doc) {
  const int slot = SlotOf(doc);
  if (slot < 0) return;
  // The registry lets go before the document ends, so no pointer to it is
  // left while it is torn down.
  const std::unique_ptr<CTessaraDoc> going = std::move(m_sources[slot].doc);
  if (slot == 0) m_sources[0] = std::move(m_sources[1]);
  m_sources[1] = Slot{};
  Publish();
}

std::unique_ptr<CTessaraDoc> CDocuments::TakeSource(const CTessaraDoc& doc) {
  const int slot = SlotOf(doc);
  if (slot < 0) return nullptr;
  std::unique_ptr<CTessaraDoc> taken = std::move(m_sources[slot].doc);
  if (slot == 0) m_sources[0] = std::move(m_sources[1]);
  m_sources[1] = Slot{};
  Publish();
  return taken;
}

CTessaraDoc* CDocuments::PutBackSource(std::unique_ptr<CTessaraDoc> doc, int n) {
  if (!doc || m_sources[1].doc) return nullptr;
  int slot = n == 1 ? 0 : 1;
  if (slot == 0 && m_sources[0].doc) m_sources[1] = std::move(m_sources[0]);
  if (slot == 1 && !m_sources[0].doc) slot = 0;
  m_sources[slot].doc = std::move(doc);
  m_sources[slot].counted = true;
  Publish();
  return m_sources[slot].doc.get();
}

CTessaraDoc* CDocuments::Source(int n) const { return n == 1 || n == 2 ? m_sources[n - 1].doc.get() : nullptr; }

int CDocuments::SlotOf(const CTessaraDoc& doc) const {
  for (int slot = 0; slot < 2; ++slot)
    if (m_sources[slot].doc.get() == &doc) return slot;
  return -1;
}

int CDocuments::SourcesLoaded() const {
  int n = 0;
  for (const Slot& slot : m_sources) n += slot.doc && slot.counted ? 1 : 0;
  return n;
}

CDestdoc& CDocuments::MakeTarget() {
  CloseTarget();
  m_pTarget = std::make_unique<CDestdoc>();
  Publish();
  return *m_pTarget;
}

void CDocuments::CloseTarget() {
  const std::unique_ptr<CDestdoc> going = std::move(m_pTarget);
  Publish();
}

CAlignDoc& CDocuments::MakeAlign() {
  CloseAlign();
  m_pAlign = std::make_unique<CAlignDoc>();
  Publish();
  return *m_pAlign;
}

void CDocuments::CloseAlign() {
  const std::unique_ptr<CAlignDoc> going = std::move(m_pAlign);
  Publish();
}

void CDocuments::Publish() const {
  PublishDocuments(m_pTarget.get(), m_pAlign.get(), m_sources[0].doc.get(), m_sources[1].doc.get(), SourcesLoaded());
}

}  // namespace tessara
