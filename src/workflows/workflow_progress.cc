#include "workflows/workflow_progress.h"

#include "base/result_codes.h"
#include "platform/text_codec.h"
#include "ui/progress_window.h"

namespace quil::workflows {
namespace {

using platform::ToNarrow;

const std::string& StepFormat() {
  static const std::string format = ToNarrow("步驟 %d / %d, %s");
  return format;
}

}  // namespace

WorkflowProgress::WorkflowProgress(const std::string& title, const std::string& done_text,
                                   const std::string& failed_text)
    : title_(ToNarrow(title)), done_text_(ToNarrow(done_text)), failed_text_(ToNarrow(failed_text)) {}

WorkflowProgress::~WorkflowProgress() { Finish(kFailed); }

void WorkflowProgress::Begin(int first_step, const std::string& text) {
  step_ = first_step;
  total_ = 0;
  ui::reportProgress(title_, StepFormat(), step_, total_, ToNarrow(text));
}

void WorkflowProgress::Next(const std::string& text) {
  ++step_;
  ui::reportProgress(title_, StepFormat(), step_, total_, ToNarrow(text));
}

void WorkflowProgress::Again(const std::string& text) {
  ui::reportProgress(title_, StepFormat(), step_, total_, ToNarrow(text));
}

void WorkflowProgress::Finish(int code) {
  if (finished_) return;
  finished_ = true;
  ui::reportProgress("", "", -1, 0, code == 0 ? done_text_ : failed_text_);
}

}  // namespace quil::workflows
