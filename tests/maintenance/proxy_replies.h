#pragma once
// Reply documents of the fake proxy for the maintenance tests. Texts are
// narrow (code page 950), as the proxy sends them.
#include <string>
#include <vector>

#include "base/field_map.h"
#include "platform/text_codec.h"

namespace quil::testing {

// getSysCfg's answer with `fields` (UTF-8 values).
inline std::string SysCfgReply(const FieldMap& fields) {
  std::string xml = "<result><rtnCode>0</rtnCode><rtnMsg/>";
  for (const auto& [k, v] : fields) xml += "<" + k + ">" + platform::ToNarrow(v) + "</" + k + ">";
  return xml + "</result>";
}

struct RegItemXml {
  std::string id, path, name, value, type, desc;  // UTF-8
};

// getRegSet's answer: rtnCode 0 and one element per item; empty fields are
// left out, as a proxy that omits them sends it.
inline std::string RegSetReply(const std::vector<RegItemXml>& items) {
  std::string xml = "<result><rtnCode>0</rtnCode><rtnMsg/>";
  int n = 0;
  for (const auto& i : items) {
    std::string tag = "item" + std::to_string(++n);
    xml += "<" + tag + ">";
    const std::pair<const char*, const std::string*> fields[] = {{"regId", &i.id},       {"regPath", &i.path},
                                                                 {"regName", &i.name},   {"regValue", &i.value},
                                                                 {"regValueType", &i.type}, {"regDesc", &i.desc}};
    for (const auto& [name, value] : fields)
      if (!value->empty()) xml += std::string("<") + name + ">" + platform::ToNarrow(*value) + "</" + name + ">";
    xml += "</" + tag + ">";
  }
  return xml + "</result>";
}

}  // namespace quil::testing
