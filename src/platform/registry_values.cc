#include "platform/registry.h"

namespace quil::platform {

RegValue RegSz(const std::string& name, const std::string& text) {
  RegValue v;
  v.name = name;
  v.type = RegType::kSz;
  v.data = text;
  return v;
}

RegValue RegDword(const std::string& name, std::uint32_t value) {
  RegValue v;
  v.name = name;
  v.type = RegType::kDword;
  v.dword = value;
  return v;
}

RegValue RegBinary(const std::string& name, const std::string& bytes) {
  RegValue v;
  v.name = name;
  v.type = RegType::kBinary;
  v.data = bytes;
  return v;
}

}  // namespace quil::platform
