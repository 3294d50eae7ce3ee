// How a long engine operation (preparing a source, generating the Target) tells
// whoever runs it how far it got, and learns that it should stop. The engine
// never reaches the status line or the keyboard itself: the target document
// turns these calls into its status texts, progress colours and stop question;
// the tests and the benchmarks watch them directly.
#pragma once

namespace tessara {

enum class WorkStage {
  kNone,            // the work is over: no stage to show
  kStoppable,       // from here on the work polls StopRequested
  kPleaseWait,      // the 8-bit Target's colour table is being built
  kMergingSource1,  // source 1 is being laid
  kMergingSource2,  // source 2 is being laid
  kBlending,        // the Blend rule joins the pictures along their seam
  kFindingAlignment,  // automatic alignment looks for the detail both sources share
};

class WorkObserver {
 public:
  virtual ~WorkObserver() = default;
  // A new stage begins.
  virtual void Stage(WorkStage /*stage*/) {}
  // How much of the current stage is done: 0..99 while it runs (called from the
  // thread that started the work, between blocks of rows or columns), 100 once
  // it is complete.
  virtual void Progress(int /*percent*/) {}
  // Polled between blocks of work; true stops it, leaving no result.
  virtual bool StopRequested() { return false; }
};

}  // namespace tessara
