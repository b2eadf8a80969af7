#include "devproxy/admin.h"

#include <nlohmann/json.hpp>

namespace quil::devproxy {
namespace {
nlohmann::json CertJson(const CertRecord& r) {
  return {{"certId", r.cert_id}, {"idno", r.idno},       {"cn", r.cn},
          {"state", r.state},    {"actFlg", r.act_flg},  {"serial", r.serial},
          {"notBefore", r.not_before}, {"notAfter", r.not_after}, {"subject", r.subject},
          {"issuer", r.issuer},  {"certHash", r.cert_hash}, {"certPath", r.cert_path},
          {"mobile", r.mobile},  {"replacesSerial", r.replaces_serial}, {"renewalProof", r.renewal_proof}};
}
}  // namespace


void HandleAdmin(const httplib::Request& req, httplib::Response& res, Service* service,
                 FaultTable* faults) {
  std::string what = req.matches[1];
  nlohmann::json in = nlohmann::json::object();
  if (!req.body.empty()) {
    in = nlohmann::json::parse(req.body, nullptr, false);
    if (in.is_discarded() || !in.is_object()) {
      res.status = 400;
      res.set_content("{\"error\":\"body is not a JSON object\"}", "application/json");
      return;
    }
  }
  auto str = [&](const char* k, const std::string& d = "") {
    return in.contains(k) && in[k].is_string() ? in[k].get<std::string>() : d;
  };
  auto num = [&](const char* k, int d) {
    return in.contains(k) && in[k].is_number_integer() ? in[k].get<int>() : d;
  };
  nlohmann::json out = {{"ok", true}};
  auto fail = [&](const std::string& why) {
    res.status = 400;
    out = {{"ok", false}, {"error", why}};
  };
  if (what == "fault" && req.method == "POST") {
    auto f = ParseFault(str("fault"));
    if (str("action").empty() || !f) fail("need action and a valid fault");
    else {
      faults->Set(str("action"), *f);
    }
  } else if (what == "faults/clear" && req.method == "POST") {
    faults->Clear();
  } else if (what == "syscfg" && req.method == "POST") {
    if (str("key").empty()) fail("need key");
    else service->SetSysCfg(str("key"), str("value"));
  } else if (what == "syscfg" && req.method == "GET") {
    out = service->SysCfg();
  } else if (what == "profile" && req.method == "POST") {
    if (!service->ApplyProfile(str("name"))) fail("profiles: pfx, store, pfx,store, store,pfx");
  } else if (what == "version" && req.method == "POST") {
    VersionPolicy v;
    v.rtn_code = str("rtnCode", v.rtn_code);
    v.rtn_msg = str("rtnMsg");
    v.notice = str("notice");
    v.available = str("available", v.available);
    v.general_report_text = str("generalReportText");
    v.is_show_report_text = str("isShowReportText", v.is_show_report_text);
    v.general_report_link = str("generalReportLink");
    v.is_show_report_link = str("isShowReportLink", v.is_show_report_link);
    v.width = str("width", v.width);
    v.height = str("height", v.height);
    v.times = num("times", v.times);
    service->SetVersionPolicy(v);
  } else if (what == "regset" && req.method == "POST") {
    if (!in.contains("items") || !in["items"].is_array()) {
      fail("need items: [{regId, regPath, regName, regValue, regValueType, regDesc}]");
    } else {
      std::vector<RegSetItem> items;
      for (const auto& i : in["items"]) {
        auto field = [&](const char* k) {
          return i.is_object() && i.contains(k) && i[k].is_string() ? i[k].get<std::string>() : "";
        };
        items.push_back({field("regId"), field("regPath"), field("regName"), field("regValue"),
                         field("regValueType"), field("regDesc")});
      }
      service->SetRegSetItems(items);
    }
  } else if (what == "regset" && req.method == "GET") {
    out = nlohmann::json::array();
    for (const auto& i : service->RegSetItems())
      out.push_back({{"regId", i.id}, {"regPath", i.path}, {"regName", i.name}, {"regValue", i.value},
                     {"regValueType", i.type}, {"regDesc", i.desc}});
  } else if (what == "policy" && req.method == "POST") {
    IssuePolicy p = service->issue_policy();
    p.valid_days = num("validDays", p.valid_days);
    p.renew_window_days = num("renewWindowDays", p.renew_window_days);
    if (in.contains("pkcs7Bundle") && in["pkcs7Bundle"].is_boolean()) p.pkcs7_bundle = in["pkcs7Bundle"];
    if (in.contains("requireAuthCode") && in["requireAuthCode"].is_boolean())
      p.require_auth_code = in["requireAuthCode"];
    p.issuer_cn = str("issuerCn", p.issuer_cn);
    p.issuer_o = str("issuerO", p.issuer_o);
    p.issuer_c = str("issuerC", p.issuer_c);
    if (p.valid_days < 1 || p.renew_window_days < 0) fail("validDays >= 1, renewWindowDays >= 0");
    else service->SetIssuePolicy(p);
  } else if (what == "customer" && req.method == "POST") {
    CustomerSeed s;
    s.idno = str("idno");
    s.password = str("password");
    s.name = str("name");
    s.branch = str("branch");
    s.account = str("account");
    s.email = str("email");
    s.mobile = str("mobile");
    s.birthday = str("birthday");
    s.apply_pw_bag = str("isApplyPwBag", "A");
    s.first_login = in.contains("firstLogin") && in["firstLogin"].is_boolean() && in["firstLogin"].get<bool>();
    if (in.contains("sheetCodes") && in["sheetCodes"].is_array())
      for (const auto& c : in["sheetCodes"])
        if (c.is_string()) s.sheet_codes.push_back(c);
    std::string error;
    if (s.password.empty()) fail("need password");
    else if (!service->AddCustomer(s, &error)) fail(error);
  } else if (what == "unlock" && req.method == "POST") {
    if (!service->Unlock(str("idno"))) fail("no such customer");
  } else if (what == "cert-expiry" && req.method == "POST") {
    if (!service->SetCertExpiry(str("idno"), num("days", 10))) fail("no live certificate");
  } else if (what == "cert-state" && req.method == "POST") {
    if (!service->SetCertState(str("idno"), str("state")))
      fail("states: issued (of a live certificate), revoked; the customer needs a certificate");
  } else if (what == "certs" && req.method == "GET") {
    out = nlohmann::json::array();
    auto certs = req.has_param("idno") ? service->Certificates(req.get_param_value("idno"))
                                       : service->AllCertificates();
    for (const auto& c : certs) out.push_back(CertJson(c));
  } else if (what == "audit" && req.method == "GET") {
    out = nlohmann::json::array();
    for (const auto& a : service->Audit())
      out.push_back({{"action", a.action}, {"id", a.id}, {"aid", a.aid}, {"funcid", a.funcid},
                     {"memo", a.memo}, {"sessionIdno", a.session_idno}, {"time", a.time}});
  } else if (what == "requests" && req.method == "GET") {
    out = nlohmann::json::array();
    for (const auto& r : service->Requests())
      out.push_back({{"action", r.action}, {"sessionIdno", r.session_idno}});
  } else if (what == "mailbox" && req.method == "GET") {
    out = nlohmann::json::array();
    for (const auto& m : service->Mail())
      out.push_back({{"idno", m.idno}, {"notifyType", m.notify_type}, {"notifyAddr", m.notify_addr},
                     {"applyType", m.apply_type}, {"code", m.code}, {"reference", m.reference},
                     {"created", m.created}, {"expires", m.expires}});
  } else {
    res.status = 404;
    out = {{"ok", false}, {"error", "unknown admin request"}};
  }
  res.set_content(out.dump(), "application/json");
}

}  // namespace quil::devproxy
