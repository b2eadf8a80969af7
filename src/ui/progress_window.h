#pragma once
// The one progress window of the process (CQUILPrcsDlg): a caption, a bar
// and a status line, driven by reportProgress. Application thread only.
#include <string>

#include "ui/ui.h"

namespace quil::ui {

// title, stepFormat and text are narrow (code page 950).
// step >= 0: a step report: shows the window (creating it on first use)
// with the caption (an empty title keeps the current one), the status line
// (stepFormat filled with step, total and text, or text alone when
// stepFormat is empty) and the bar at step of 0..total, then pauses 100 ms
// (base/pause.h). step < 0: the final report: sets the status line to text,
// pauses 1000 ms and hides the window; shows nothing and does not pause if
// the window was never created.
void reportProgress(const std::string& title, const std::string& stepFormat, int step,
                    int total, const std::string& text);

// The window's state, for tests and for a page that reconnects.
struct ProgressState {
  bool created = false;
  bool visible = false;
  ProgressView view;  // wide texts
};
ProgressState CurrentProgressState();

// Forgets the window, as a new process would.
void ResetProgressWindowForTesting();

// Fills "%d", "%d", "%s" of a step format in that order; other characters
// stay. Exposed for tests.
std::string FormatStepText(const std::string& stepFormat, int step, int total,
                           const std::string& text);

}  // namespace quil::ui
