#pragma once
// Step reporting of the certificate workflows through the one progress
// window: a fixed title, the step format "步驟 %d / %d, %s", a first report
// with total 0, the total once the function status is known, and exactly
// one final report on every exit. Application thread only.
#include <string>

namespace quil::workflows {

class WorkflowProgress {
 public:
  // Texts are wide (UTF-8): the title ("憑證申請") and the closing texts for
  // success and failure.
  WorkflowProgress(const std::string& title, const std::string& done_text, const std::string& failed_text);
  // Makes the failure's final report when Finish was never called (a stray
  // exception), so the window never stays up.
  ~WorkflowProgress();
  WorkflowProgress(const WorkflowProgress&) = delete;
  WorkflowProgress& operator=(const WorkflowProgress&) = delete;

  // The first report: `first_step` of total 0.
  void Begin(int first_step, const std::string& text);
  // The total for the following reports.
  void SetTotal(int total) { total_ = total; }
  // The next step number, reported with the current total.
  void Next(const std::string& text);
  // The current step number again, with another text.
  void Again(const std::string& text);
  // The final report for `code`; only the first call reports. Shows nothing
  // when the window was never created (progress_window.h).
  void Finish(int code);

 private:
  std::string title_, done_text_, failed_text_;  // narrow
  int step_ = 0;
  int total_ = 0;
  bool finished_ = false;
};

}  // namespace quil::workflows
