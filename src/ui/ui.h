#pragma once
// The user-interface calls that the protocol, the certificate engine and
// the workflows use. They know nothing of how the calls are shown: the host
// renders them in the page (app/host/page_ui.h), unit tests script them
// (ui/scripted_ui.h).
//
// Every call blocks the calling (application) thread until the user has
// answered. All texts are wide (UTF-8).
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quil::ui {

enum class Buttons { kOk, kOkCancel, kYesNo };
// A closed or unanswered question counts as kCancel (or kNo).
enum class Answer { kOk, kCancel, kYes, kNo };

struct FileFilter {
  std::string label;    // "憑證檔 (*.P12)"
  std::string pattern;  // "*.P12"; matched without regard to letter case
};

// One field of a modal dialog. The page renders it; checks stay in C++.
struct DialogField {
  std::string name;   // key of the value returned
  std::string label;  // text beside the field
  // "text", "password", "checkbox" (value "1" or ""), "static" (text only),
  // "page" (one of the program's pages, whose accept button answers the
  // dialog), "file" (browse: the file chooser with `filters` fills the
  // field), "folder" (browse: the folder chooser; the field becomes the
  // chosen folder followed by the file name the field held), "browsers"
  // (a cell with its icon for each name of `choices` the page knows,
  // marked by the page's own rules from the names of `value`; a click
  // toggles a cell; the answer holds the names marked, joined with ",",
  // only once the customer has clicked).
  std::string kind;
  std::string value;  // initial value
  std::string browse_title;          // chooser title for "file" and "folder"
  std::vector<FileFilter> filters;   // chooser filters for "file"
  std::vector<std::string> choices;  // "browsers": the names offered, in order
  bool single = false;               // "browsers": at most one cell marked
  bool as_left = false;              // "browsers": clicked before; marks exactly as `value` says
};

struct DialogRequest {
  std::string dialog;   // the dialog's class name, e.g. "CQUILSavePfxDlg"
  std::string caption;  // window caption
  std::vector<DialogField> fields;
  std::string ok_label = "確定";
  std::string cancel_label = "取消";  // empty: no cancel button
};

// Field name to the value the user left in it.
using DialogValues = std::map<std::string, std::string>;

// What the progress window shows; see ui/progress_window.h.
struct ProgressView {
  std::string title;  // caption
  std::string text;   // status line
  int step = 0;       // bar position
  int total = 0;      // bar upper bound
};

class Ui {
 public:
  virtual ~Ui() = default;

  // A modal message box whose caption is the program's title.
  virtual Answer MessageBox(const std::string& text, Buttons buttons) = 0;
  // The same with a caption of its own (the security component's question).
  virtual Answer CaptionedMessageBox(const std::string& caption, const std::string& text, Buttons buttons) {
    (void)caption;
    return MessageBox(text, buttons);
  }
  // A modal dialog; nothing when the user cancelled or closed it.
  virtual std::optional<DialogValues> ShowDialog(const DialogRequest& request) = 0;
  // Folder and file choosers; nothing when cancelled.
  virtual std::optional<std::string> ChooseFolder(const std::string& title) = 0;
  virtual std::optional<std::string> ChooseFile(const std::string& title,
                                                const std::vector<FileFilter>& filters) = 0;
  // Opens a page in a window of its own (the browser selection page).
  virtual void OpenWindow(const std::string& url, int width, int height) = 0;

  // The progress window: shown with this content, or hidden.
  virtual void ShowProgress(const ProgressView& view) = 0;
  virtual void HideProgress() = 0;
};

// The process-wide implementation. Until one is set, a silent one answers
// Cancel to every question and shows nothing.
Ui& CurrentUi();
void SetUi(Ui* ui);

// Shows `request` until its values pass `check` (which returns an empty text
// when they are fine, else the message to show). A failed check shows its
// message box and the dialog again with the input kept. Nothing when the
// user cancelled.
template <typename Check>
std::optional<DialogValues> RunDialog(DialogRequest request, Check check) {
  for (;;) {
    auto values = CurrentUi().ShowDialog(request);
    if (!values) return std::nullopt;
    std::string problem = check(*values);
    if (problem.empty()) return values;
    CurrentUi().MessageBox(problem, Buttons::kOk);
    for (auto& f : request.fields) {
      auto it = values->find(f.name);
      if (it != values->end()) f.value = it->second;
    }
  }
}

}  // namespace quil::ui
