#include "devproxy/faults.h"

#include <cstdlib>
#include <sstream>

namespace quil::devproxy {

std::optional<Fault> ParseFault(const std::string& fault_text) {
  Fault f;
  std::stringstream in(fault_text);
  std::string part;
  bool any = false;
  while (std::getline(in, part, ',')) {
    if (part.empty()) continue;
    any = true;
    std::string head = part.substr(0, part.find(':'));
    std::string rest = part.find(':') == std::string::npos ? "" : part.substr(part.find(':') + 1);
    auto number = [&](int* out) {
      if (rest.empty() || rest.find_first_not_of("-0123456789") != std::string::npos) return false;
      *out = std::atoi(rest.c_str());
      return true;
    };
    if (head == "malformed") f.kind = Fault::Kind::kMalformedXml;
    else if (head == "noroot") f.kind = Fault::Kind::kNoRoot;
    else if (head == "empty") f.kind = Fault::Kind::kEmptyBody;
    else if (head == "drop") f.kind = Fault::Kind::kDropConnection;
    else if (head == "lost") f.kind = Fault::Kind::kReplyLost;
    else if (head == "rtn") {
      f.kind = Fault::Kind::kRtnCode;
      f.rtn_code = rest.substr(0, rest.find(':'));
      if (rest.find(':') != std::string::npos) f.rtn_msg = rest.substr(rest.find(':') + 1);
      if (f.rtn_code.empty()) return std::nullopt;
    } else if (head == "status") {
      f.kind = Fault::Kind::kHttpStatus;
      if (!number(&f.http_status) || f.http_status < 100 || f.http_status > 599) return std::nullopt;
    } else if (head == "delay") {
      if (!number(&f.delay_ms) || f.delay_ms < 0) return std::nullopt;
    } else if (head == "times") {
      if (!number(&f.times) || f.times < 1) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!any) return std::nullopt;
  return f;
}

std::string FaultDocument(const Fault& f) {
  switch (f.kind) {
    case Fault::Kind::kMalformedXml:
      return "<?xml version=\"1.0\"?>\n<result><rtnCode>0</rtnCode><rtnMsg>broken";
    case Fault::Kind::kNoRoot:
      return "<?xml version=\"1.0\"?>\n<!-- no element -->\n";
    case Fault::Kind::kRtnCode:
      return "<?xml version=\"1.0\"?>\n<result><rtnCode>" + f.rtn_code + "</rtnCode><rtnMsg>" +
             f.rtn_msg + "</rtnMsg></result>";
    default:
      return {};
  }
}

void FaultTable::Set(const std::string& action, const Fault& fault) {
  std::lock_guard<std::mutex> lock(mu_);
  faults_[action] = fault;
}

void FaultTable::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.clear();
}

std::optional<Fault> FaultTable::Take(const std::string& action) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const std::string& key : {action, std::string("*")}) {
    auto it = faults_.find(key);
    if (it == faults_.end()) continue;
    Fault f = it->second;
    if (it->second.times > 0 && --it->second.times == 0) faults_.erase(it);
    return f;
  }
  return std::nullopt;
}

}  // namespace quil::devproxy
