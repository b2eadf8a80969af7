// The security component on Windows is a COM class with a method
// GetVersion: anything else counts as not installed.
#include "platform/security_component.h"

#include <gtest/gtest.h>

namespace quil::platform {
namespace {

TEST(SecurityComponentTest, OnlyAClassWithGetVersionAnswers) {
  struct Case {
    const char* name;
    const char* class_id;
  } cases[] = {
      {"a class nobody registered", "{6D3F9A1C-2B4E-4C7A-9E51-7A2B3C4D5E6F}"},
      {"not a class id", "{not a class}"},
      {"an empty setting", "{}"},
      // Scripting.Dictionary: an automation class without GetVersion.
      {"an automation class without GetVersion", "{EE09B103-97E0-11CF-978F-00A02463E06F}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(QueryComponentVersion(c.class_id));
  }
}

}  // namespace
}  // namespace quil::platform
