#pragma once
// Reading the proxy's XML replies into texts and FieldMaps. The parsed
// document is copied into plain structs so callers never see the parser.
#include <string>
#include <vector>

#include "base/field_map.h"

namespace quil::proxy {

struct XmlElement {
  std::string name;
  // The first child node's value when that node is text (CDATA included),
  // else "" (empty element, first child an element or a comment).
  std::string text;
  std::vector<XmlElement> children;  // child elements in document order
};

struct ReplyDocument {
  bool well_formed = false;
  bool has_root = false;
  XmlElement root;  // the document's first element, when has_root
};

// Parses a reply text (narrow); entities and character references are
// resolved, white space inside texts is kept.
ReplyDocument ParseReply(const std::string& text);

// The first child element named `name`, or nullptr.
const XmlElement* ChildElement(const XmlElement& element, const std::string& name);

// The text of the first child element named `name`; "" when absent.
std::string fieldText(const XmlElement& element, const std::string& name);

// Every child element's text under its name, in document order (the last
// of repeated names wins); with `skip_rtn`, rtnCode and rtnMsg are passed
// over. Nested elements are not walked.
FieldMap collectFields(const XmlElement& element, bool skip_rtn);

// collectFields (no skipping) of the first child named `name`; empty map
// when there is none.
FieldMap ReadBlock(const XmlElement& element, const std::string& name);

// collectFields of each child named `name`, in document order.
std::vector<FieldMap> ReadList(const XmlElement& element, const std::string& name);

// The decimal integer at the start of `text` (leading blanks and a sign
// allowed, as atoi reads it); 0 when there is none. Out-of-range values
// clamp to INT_MIN or INT_MAX.
int ReadNumber(const std::string& text);

// rtnCode is exactly "0".
bool IsAccepted(const XmlElement& root);

}  // namespace quil::proxy
