#include "ui/ui.h"

namespace quil::ui {
namespace {

class SilentUi : public Ui {
 public:
  Answer MessageBox(const std::string&, Buttons) override { return Answer::kCancel; }
  std::optional<DialogValues> ShowDialog(const DialogRequest&) override { return std::nullopt; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
  std::optional<std::string> ChooseFile(const std::string&, const std::vector<FileFilter>&) override {
    return std::nullopt;
  }
  void OpenWindow(const std::string&, int, int) override {}
  void ShowProgress(const ProgressView&) override {}
  void HideProgress() override {}
};

SilentUi g_silent;
Ui* g_ui = &g_silent;

}  // namespace

Ui& CurrentUi() { return *g_ui; }
void SetUi(Ui* ui) { g_ui = ui ? ui : &g_silent; }

}  // namespace quil::ui
