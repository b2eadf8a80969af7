#pragma once
// Expectations shared by the workflow tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo_bench.h"
#include "devproxy/devproxy.h"

namespace quil::testing {

using Lines = std::vector<std::string>;

inline constexpr char kStart[] = "開始憑證申請 ...";
inline constexpr char kRequest[] = "產生憑證請求資訊 ...";
inline constexpr char kSend[] = "送出憑證申請資訊並等待回覆 ...";
inline constexpr char kSave[] = "正在儲存憑證檔 ...";
inline constexpr char kReport[] = "回報憑證安裝狀態 ...";
inline constexpr char kImport[] = "正在匯入憑證 ...";
inline constexpr char kDone[] = "憑證申請完成";
inline constexpr char kFailed[] = "憑證申請失敗";

// A step report as ProgressLines shows it.
inline std::string Step(int step, int total, const std::string& text) {
  return std::to_string(step) + "/" + std::to_string(total) + " 步驟 " + std::to_string(step) + " / " +
         std::to_string(total) + ", " + text;
}

// The final report keeps the last step's bar and shows the closing text.
inline std::string Final(int step, int total, const std::string& text) {
  return std::to_string(step) + "/" + std::to_string(total) + " " + text;
}

// Blocks a folder the workflow writes into by putting a file in its place.
inline void BlockFolder(const std::string& path) { WriteFileForTest(path, "not a folder"); }

inline void Fault(DemoSession& s, const char* action, const char* tmpl) {
  auto fault = devproxy::ParseFault(tmpl);
  ASSERT_TRUE(fault) << tmpl;
  s.proxy().SetFault(action, *fault);
}

}  // namespace quil::testing
