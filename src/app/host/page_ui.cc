#include "app/host/page_ui.h"

namespace quil::host {

ui::Answer PageUi::MessageBox(const std::string& text, ui::Buttons buttons) {
  return CaptionedMessageBox(kMessageBoxCaption, text, buttons);
}

ui::Answer PageUi::CaptionedMessageBox(const std::string& caption, const std::string& text,
                                       ui::Buttons buttons) {
  const char* kind = buttons == ui::Buttons::kOk ? "ok" : buttons == ui::Buttons::kYesNo ? "yesno" : "okcancel";
  auto answer = channel_->Ask("messageBox", {{"caption", caption}, {"text", text}, {"buttons", kind}});
  const std::string button = answer ? answer->value("button", "") : "";
  switch (buttons) {
    case ui::Buttons::kOk:
      return ui::Answer::kOk;
    case ui::Buttons::kYesNo:
      return button == "yes" ? ui::Answer::kYes : ui::Answer::kNo;
    case ui::Buttons::kOkCancel:
      break;
  }
  return button == "ok" ? ui::Answer::kOk : ui::Answer::kCancel;
}

std::optional<ui::DialogValues> PageUi::ShowDialog(const ui::DialogRequest& request) {
  nlohmann::json fields = nlohmann::json::array();
  for (const auto& f : request.fields) {
    nlohmann::json filters = nlohmann::json::array();
    for (const auto& filter : f.filters) filters.push_back({{"label", filter.label}, {"pattern", filter.pattern}});
    fields.push_back({{"name", f.name}, {"label", f.label}, {"kind", f.kind}, {"value", f.value},
                      {"browseTitle", f.browse_title}, {"filters", filters}, {"choices", f.choices},
                      {"single", f.single}, {"asLeft", f.as_left}});
  }
  auto answer = channel_->Ask("dialog", {{"dialog", request.dialog},
                                         {"caption", request.caption},
                                         {"fields", fields},
                                         {"ok", request.ok_label},
                                         {"cancel", request.cancel_label}});
  if (!answer || !answer->contains("fields") || !(*answer)["fields"].is_object()) return std::nullopt;
  ui::DialogValues values;
  for (const auto& f : request.fields) {
    const auto& got = (*answer)["fields"];
    auto it = got.find(f.name);
    if (it != got.end() && it->is_string()) values[f.name] = it->get<std::string>();
    else if (it != got.end() && it->is_boolean()) values[f.name] = it->get<bool>() ? "1" : "";
    else if (f.kind != "browsers") values[f.name] = f.value;  // browser cells answer only once clicked
  }
  return values;
}

std::optional<std::string> PageUi::AskForPath(const std::string& type, nlohmann::json data) {
  auto answer = channel_->Ask(type, std::move(data));
  if (!answer || !answer->contains("path") || !(*answer)["path"].is_string()) return std::nullopt;
  return (*answer)["path"].get<std::string>();
}

std::optional<std::string> PageUi::ChooseFolder(const std::string& title) {
  return AskForPath("chooseFolder", {{"title", title}});
}

std::optional<std::string> PageUi::ChooseFile(const std::string& title,
                                              const std::vector<ui::FileFilter>& filters) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& f : filters) list.push_back({{"label", f.label}, {"pattern", f.pattern}});
  return AskForPath("chooseFile", {{"title", title}, {"filters", list}});
}

void PageUi::OpenWindow(const std::string& url, int width, int height) {
  channel_->Publish("openWindow", {{"url", url}, {"width", width}, {"height", height}});
}

void PageUi::ShowProgress(const ui::ProgressView& view) {
  channel_->Publish("progress", {{"title", view.title},
                                 {"text", view.text},
                                 {"step", view.step},
                                 {"total", view.total}});
}

void PageUi::HideProgress() { channel_->Publish("progressHide", nlohmann::json::object()); }

}  // namespace quil::host
