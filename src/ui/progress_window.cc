#include "ui/progress_window.h"

#include "base/pause.h"
#include "platform/text_codec.h"

namespace quil::ui {
namespace {

struct ProgressWindow {
  ProgressState state;
};

ProgressWindow& Window() {
  static ProgressWindow w;
  return w;
}

}  // namespace

std::string FormatStepText(const std::string& stepFormat, int step, int total,
                           const std::string& text) {
  std::string out;
  int ints_used = 0;
  for (size_t i = 0; i < stepFormat.size(); ++i) {
    char c = stepFormat[i];
    if (c == '%' && i + 1 < stepFormat.size()) {
      char conversion = stepFormat[i + 1];
      if (conversion == 'd') {
        out += std::to_string(ints_used++ == 0 ? step : total);
        ++i;
        continue;
      }
      if (conversion == 's') {
        out += text;
        ++i;
        continue;
      }
      if (conversion == '%') {
        out.push_back('%');
        ++i;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}

void reportProgress(const std::string& title, const std::string& stepFormat, int step,
                    int total, const std::string& text) {
  ProgressWindow& w = Window();
  ProgressView& v = w.state.view;
  if (step >= 0) {
    w.state.created = true;
    if (!title.empty()) v.title = platform::ToWide(title);
    v.text = platform::ToWide(stepFormat.empty() ? text : FormatStepText(stepFormat, step, total, text));
    v.total = total & 0xFFFF;  // the bar keeps only the low 16 bits
    v.step = step;
    w.state.visible = true;
    CurrentUi().ShowProgress(v);
    Pause(Milliseconds(100));
    return;
  }
  if (!w.state.created) return;
  v.text = platform::ToWide(text);
  if (w.state.visible) CurrentUi().ShowProgress(v);
  Pause(Milliseconds(1000));
  w.state.visible = false;
  CurrentUi().HideProgress();
}

ProgressState CurrentProgressState() { return Window().state; }

void ResetProgressWindowForTesting() { Window().state = ProgressState(); }

}  // namespace quil::ui
