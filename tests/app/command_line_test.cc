#include "app/host/command_line.h"

#include <gtest/gtest.h>

namespace quil::host {
namespace {

TEST(CommandLineTest, OptionsAndTheirMistakes) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* error;  // empty: accepted
    bool check_expiry;
    const char* log = "";  // the level --log set, "" for none
  } kCases[] = {
      {"nothing", {}, "", false},
      {"the reminder alone", {"--check-expiry"}, "", true},
      {"the reminder with a window option", {"--check-expiry", "--no-browser"}, "--check-expiry takes no other option",
       true},
      {"the reminder with the demo", {"--demo", "--check-expiry"}, "--check-expiry takes no other option", true},
      {"a port out of range", {"--port", "70000"}, "--port takes a number from 1 to 65535", false},
      {"a port without a number", {"--port"}, "unknown option: --port", false},
      {"unknown", {"--expiry"}, "unknown option: --expiry", false},
      {"a log level", {"--log", "debug"}, "", false, "debug"},
      {"the reminder with a log level", {"--check-expiry", "--log", "off"}, "", true, "off"},
      {"an unknown log level", {"--log", "verbose"}, "--log takes off, error, warning, info or debug", false},
      {"a log level in capitals", {"--log", "ERROR"}, "--log takes off, error, warning, info or debug", false},
      {"--log without a level", {"--log"}, "unknown option: --log", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto options = ParseCommandLine(c.args, &error);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(options.has_value(), *c.error == '\0');
    if (options) {
      EXPECT_EQ(options->check_expiry, c.check_expiry);
      EXPECT_EQ(options->log_level ? platform::LogLevelName(*options->log_level) : "", std::string(c.log));
    }
  }
  auto version = ParseCommandLine({"--version"}, nullptr);
  ASSERT_TRUE(version);
  EXPECT_TRUE(version->version);
  EXPECT_EQ(VersionText(), "quil 1.9\n");
}

}  // namespace
}  // namespace quil::host
