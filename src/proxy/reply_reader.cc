#include "proxy/reply_reader.h"

#include <tinyxml2.h>

#include <climits>
#include <cctype>

namespace quil::proxy {
namespace {

XmlElement Copy(const tinyxml2::XMLElement& e) {
  XmlElement out;
  out.name = e.Name() ? e.Name() : "";
  const tinyxml2::XMLNode* first = e.FirstChild();
  if (first && first->ToText() && first->Value()) out.text = first->Value();
  for (const auto* c = e.FirstChildElement(); c; c = c->NextSiblingElement()) out.children.push_back(Copy(*c));
  return out;
}

}  // namespace

ReplyDocument ParseReply(const std::string& text) {
  ReplyDocument doc;
  tinyxml2::XMLDocument xml(true, tinyxml2::PRESERVE_WHITESPACE);
  if (xml.Parse(text.c_str(), text.size()) != tinyxml2::XML_SUCCESS) return doc;
  doc.well_formed = true;
  if (const auto* root = xml.FirstChildElement()) {
    doc.has_root = true;
    doc.root = Copy(*root);
  }
  return doc;
}

const XmlElement* ChildElement(const XmlElement& element, const std::string& name) {
  for (const auto& c : element.children)
    if (c.name == name) return &c;
  return nullptr;
}

std::string fieldText(const XmlElement& element, const std::string& name) {
  const XmlElement* c = ChildElement(element, name);
  return c ? c->text : std::string();
}

FieldMap collectFields(const XmlElement& element, bool skip_rtn) {
  FieldMap out;
  for (const auto& c : element.children) {
    if (skip_rtn && (c.name == "rtnCode" || c.name == "rtnMsg")) continue;
    out[c.name] = c.text;
  }
  return out;
}

FieldMap ReadBlock(const XmlElement& element, const std::string& name) {
  const XmlElement* block = ChildElement(element, name);
  return block ? collectFields(*block, false) : FieldMap();
}

std::vector<FieldMap> ReadList(const XmlElement& element, const std::string& name) {
  std::vector<FieldMap> out;
  for (const auto& c : element.children)
    if (c.name == name) out.push_back(collectFields(c, false));
  return out;
}

int ReadNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) {  // clamp instead of wrapping around
      value = static_cast<long long>(INT_MAX) + (negative ? 1 : 0);
      break;
    }
  }
  return static_cast<int>(negative ? -value : value);
}

bool IsAccepted(const XmlElement& root) { return fieldText(root, "rtnCode") == "0"; }

}  // namespace quil::proxy
