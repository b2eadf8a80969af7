#pragma once
// Method bodies, grouped by the file that holds them. Each takes the
// arguments prepared by RunMethod (app/method_table.h) and returns the
// reply for its return kind.
#include "app/method_table.h"

namespace quil::methods {

// app/methods_shell.cc: methods that need nothing beyond the bridge.
MethodReply doTest(const MethodArgs& a);
MethodReply getClientVersion(const MethodArgs& a);
MethodReply openFileChooser(const MethodArgs& a);
MethodReply openFileChooser2(const MethodArgs& a);
MethodReply copyFile(const MethodArgs& a);
MethodReply openFileManager(const MethodArgs& a);
MethodReply openFileManager2(const MethodArgs& a);
MethodReply closeApp(const MethodArgs& a);
MethodReply openApp(const MethodArgs& a);
MethodReply getRandom(const MethodArgs& a);
MethodReply isFileExist(const MethodArgs& a);

}  // namespace quil::methods
