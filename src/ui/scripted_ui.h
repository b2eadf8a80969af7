#pragma once
// A Ui that replays prepared answers and records what was shown, for unit
// tests of code that asks the user something. Unanswered questions get
// Cancel (or nothing).
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "ui/ui.h"

namespace quil::ui {

class ScriptedUi : public Ui {
 public:
  // Answers, consumed in order.
  std::deque<Answer> message_answers;
  std::deque<std::optional<DialogValues>> dialog_answers;
  std::deque<std::optional<std::string>> chooser_answers;

  // What was shown.
  std::vector<std::string> messages;
  std::vector<std::string> captions;  // of the captioned message boxes only
  std::vector<DialogRequest> dialogs;
  std::vector<std::string> chooser_titles;
  std::vector<ProgressView> progress;
  int hides = 0;
  std::vector<std::string> opened_windows;

  Answer MessageBox(const std::string& text, Buttons) override {
    messages.push_back(text);
    return Take(message_answers, Answer::kCancel);
  }
  Answer CaptionedMessageBox(const std::string& caption, const std::string& text, Buttons buttons) override {
    captions.push_back(caption);
    return MessageBox(text, buttons);
  }
  std::optional<DialogValues> ShowDialog(const DialogRequest& request) override {
    dialogs.push_back(request);
    return Take(dialog_answers, std::optional<DialogValues>());
  }
  std::optional<std::string> ChooseFolder(const std::string& title) override {
    chooser_titles.push_back(title);
    return Take(chooser_answers, std::optional<std::string>());
  }
  std::optional<std::string> ChooseFile(const std::string& title,
                                        const std::vector<FileFilter>&) override {
    chooser_titles.push_back(title);
    return Take(chooser_answers, std::optional<std::string>());
  }
  void OpenWindow(const std::string& url, int, int) override { opened_windows.push_back(url); }
  void ShowProgress(const ProgressView& view) override { progress.push_back(view); }
  void HideProgress() override { ++hides; }

 private:
  template <typename T>
  static T Take(std::deque<T>& q, T fallback) {
    if (q.empty()) return fallback;
    T v = q.front();
    q.pop_front();
    return v;
  }
};

// Installs a ScriptedUi for the lifetime of the object.
class ScopedScriptedUi {
 public:
  ScopedScriptedUi() { SetUi(&ui_); }
  ~ScopedScriptedUi() { SetUi(nullptr); }
  ScriptedUi* operator->() { return &ui_; }
  ScriptedUi& get() { return ui_; }

 private:
  ScriptedUi ui_;
};

}  // namespace quil::ui
