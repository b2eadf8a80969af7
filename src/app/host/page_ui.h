#pragma once
// The product's Ui: every call becomes an event on the page's stream, and
// questions wait for the page's answer (app thread blocked, as a modal
// dialog blocks the UI thread). A closed channel answers Cancel / nothing.
#include "app/host/event_channel.h"
#include "ui/ui.h"

namespace quil::host {

// The caption of message boxes: the program's title.
inline constexpr const char kMessageBoxCaption[] = "QUIL";

class PageUi : public ui::Ui {
 public:
  explicit PageUi(EventChannel* channel) : channel_(channel) {}

  ui::Answer MessageBox(const std::string& text, ui::Buttons buttons) override;
  ui::Answer CaptionedMessageBox(const std::string& caption, const std::string& text,
                                 ui::Buttons buttons) override;
  std::optional<ui::DialogValues> ShowDialog(const ui::DialogRequest& request) override;
  std::optional<std::string> ChooseFolder(const std::string& title) override;
  std::optional<std::string> ChooseFile(const std::string& title,
                                        const std::vector<ui::FileFilter>& filters) override;
  void OpenWindow(const std::string& url, int width, int height) override;
  void ShowProgress(const ui::ProgressView& view) override;
  void HideProgress() override;

 private:
  std::optional<std::string> AskForPath(const std::string& type, nlohmann::json data);

  EventChannel* channel_;
};

}  // namespace quil::host
