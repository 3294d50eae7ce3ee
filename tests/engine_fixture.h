// A headless session for engine tests: one target document, source documents
// made from pictures built in the test, and a recording user interface.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "engine/destdoc.h"
#include "engine/documents.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "framework/user_interface.h"
#include "image/dib.h"

namespace tessara::test {

class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    SetUserInterface(&ui);
    doc = &documents.MakeTarget();
  }
  void TearDown() override {
    DropSession();
    SetUserInterface(nullptr);
  }
  // A fresh session: no sources, a new target document with its defaults,
  // nothing recorded.
  void Restart() {
    DropSession();
    ui.Clear();
    doc = &documents.MakeTarget();
  }
  void DropSession() {
    documents.CloseTarget();
    doc = nullptr;
    for (int n = 2; n >= 1; --n)
      if (CTessaraDoc* src = documents.Source(n)) documents.CloseSource(*src);
  }
  // Registers `dib` as the next source, as a load would.
  CTessaraDoc* AddSource(DibPtr dib) {
    CTessaraDoc* src = documents.OpenSource();
    src->m_pDib = std::move(dib);
    src->InitDibData();
    return src;
  }
  // Two loaded sources whose prepared copies are given directly.
  void Prepared(DibPtr a, DibPtr b) {
    AddSource(CreateDib(0, 24, 1, 1, "x"));
    AddSource(CreateDib(0, 24, 1, 1, "x"));
    doc->m_pSource1 = std::move(a);
    doc->m_pSource2 = std::move(b);
    doc->m_cover1.Clear();
    doc->m_cover2.Clear();
  }
  void RemoveSource(int n) { documents.CloseSource(*documents.Source(n)); }

  HeadlessUserInterface ui;
  CDocuments documents;
  CDestdoc* doc = nullptr;
};

// A 24-bit picture whose pixel (x, y) has blue = x, green = y and red = x + y
// (each taken modulo 256), so every read position shows in the colour.
inline DibPtr Coordinates24(int width, int height) {
  DibPtr dib = CreateDib(0, 24, width, height, "x");
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = dib->Row(y) + 3 * x;
      p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y), p[2] = static_cast<uint8_t>(x + y);
    }
  return dib;
}

// An indexed picture (1, 4 or 8 bits) whose index at (x, y) is f(x, y), with a
// colour table of distinct colours.
template <typename F>
DibPtr Indexed(int bits, int width, int height, F f) {
  DibPtr dib = CreateDib(0, bits, width, height, "x");
  const int n = 1 << bits;
  for (int i = 0; i < n; ++i)
    dib->ColorTable()[i] = {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3), 0};
  if (bits == 1) {
    dib->ColorTable()[0] = {0, 0, 0, 0};
    dib->ColorTable()[1] = {255, 255, 255, 0};
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int v = f(x, y) & (n - 1);
      uint8_t* r = dib->Row(y);
      if (bits == 1) r[x >> 3] = static_cast<uint8_t>(v ? r[x >> 3] | (0x80 >> (x & 7)) : r[x >> 3] & ~(0x80 >> (x & 7)));
      else if (bits == 4) r[x >> 1] = static_cast<uint8_t>((x & 1) ? (r[x >> 1] & 0xF0) | v : (r[x >> 1] & 0x0F) | (v << 4));
      else r[x] = static_cast<uint8_t>(v);
    }
  return dib;
}

inline int IndexAt(const Dib& d, int x, int y) {
  const uint8_t* r = d.Row(y);
  switch (d.BitCount()) {
    case 1: return (r[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? (r[x >> 1] & 0x0F) : (r[x >> 1] >> 4);
    default: return r[x];
  }
}

}  // namespace tessara::test
