// The canvas of a Target generated once (the batch tool) made of source 1's
// own memory: source 1's rows move to where the Target holds them and the
// background goes around them, so laying source 1 rewrites its pixels where
// they lie and the Target asks only for the memory it needs beyond source 1's.
// The Target is byte for byte the one laid on a canvas of its own.
#pragma once

#include "engine/generate_target.h"

namespace tessara {

// Whether source 1's prepared copy can become the canvas of this Target: a
// 24-bit Target laid without the projection and without exposure matching
// (both read source 1 away from where it is being laid), and a plain 24-bit
// source 1 (a 40-byte header, no colour table, its rows bottom first right
// after the header) lying inside the canvas.
bool CanLaySource1OnCanvas(const Dib& source1, const TargetPlan& plan, const TargetSettings& settings);

// The canvas made of source 1's block: source 1's pixels at their place in the
// Target, the plan's background byte everywhere else (row padding and the
// spare bytes too, as CreateTargetCanvas fills them). Through a neutral tone
// curve source 1's pixels that equal the background are nudged off it as
// laying source 1 would (NudgeBackground), so LayTarget leaves them. With
// `source2Fills` (source 2 is a 24-bit copy, which LayTarget copies over all
// of its rectangle beside source 1) that part is left unfilled. `source1`
// keeps only its header: its size and depth still read (for the coverage and
// the plan), it has no rows. LayTarget then reads source 1 from the canvas
// (its `source1OnCanvas`). Null, with source 1 as it was, when
// CanLaySource1OnCanvas says no or the memory cannot be had.
DibPtr CanvasOverSource1(Dib& source1, const TargetPlan& plan, const TargetSettings& settings,
                         bool source2Fills = false);

}  // namespace tessara
