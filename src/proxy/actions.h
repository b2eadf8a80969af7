#pragma once
// The client operations of the proxy actions, one per action and named
// after it. Each builds its fields, seals them (envelope.h), reads the
// reply (reply_reader.h) and returns its result code with its outputs; the
// message text of a code is MakeErrorText(code). None shows anything but
// the transport's network message box (and doLogin its progress reports).
// All texts are narrow (code page 950). Blocking; application thread only.
#include <string>
#include <vector>

#include "base/client_version.h"
#include "base/field_map.h"
#include "base/result_codes.h"

namespace quil::proxy {

struct [[nodiscard]] MapResult {
  int code = kFailed;
  FieldMap fields;
};

// Settings fields of the reply (rtnCode and rtnMsg left out), or code 1
// when the call, the parse, the root or rtnCode fails.
MapResult getSysCfg();

// The common name for an identity number: the setting "cn" when known,
// else asked of the proxy and remembered in the settings. "" on any failure.
std::string getCn(const std::string& userId);

struct [[nodiscard]] VersionInfo {
  int code = kFailed;  // 0, 53701, 53703, 53803, 53705
  std::string notice, available, generalReportText, isShowReportText, generalReportLink,
      isShowReportLink, width, height;
};
VersionInfo checkVersion();

// Plain form: the reply fields, empty on any failure.
FieldMap QryCertPlain(const std::string& cn);
// Checked form: 54401 for an empty cn, the transport's code, 54403, 54405.
MapResult qryCert(const std::string& cn);

struct [[nodiscard]] Cert2Result {
  int code = kFailed;
  FieldMap pcCert;
  std::vector<FieldMap> mobileCerts;
};
Cert2Result qryCert2(const std::string& cn);

// The proxy's record of the current certificate; empty on any failure,
// a refusal included.
FieldMap qryLastActiveCert(const std::string& cn);

struct [[nodiscard]] FnStatus {
  int code = kFailed;  // 0, 54101, 54103, 54105
  std::string fnStatus;
  int certCount = 0;
  int effectCertCount = 0;
};
FnStatus getFnStatus(const std::string& cn);

struct [[nodiscard]] CertReply {
  int code = kFailed;
  std::string cert;  // base64 certificate
  FieldMap certInfo;
  int certId = 0;
};
// `pwid` is sent only when not empty (the second form).
CertReply applyCert(const std::string& csr, const std::string& userId, const std::string& pwid = "");
CertReply renewCert(const std::string& csr, const std::string& hexSerial, const std::string& sign);
CertReply dlCert(const std::string& cn);

// fields: rvkCode / rvkMsg from rtnCode / rtnMsg when present.
MapResult revokeCert(const std::string& cn);
MapResult revokeCert(const std::string& cn, const std::string& pwid);

int activeCert(int certApplyId, const std::string& certPath);
int changePfxPwVerifyP7(const std::string& sign);

struct [[nodiscard]] LoginResult {
  int code = kFailed;
  FieldMap result;  // rtnCode, rtnMsg, and on success every other field
  std::string extraMsg;
};
// The whole login: address discovery, the progress window (with a 500 ms
// pause after each of the reply's two steps), the action, the session key,
// the settings and userIdno.
LoginResult doLogin(const std::string& aid, const std::string& pw);

struct [[nodiscard]] ChangePwResult {
  int code = kFailed;
  std::string extraMsg;
};
ChangePwResult changePw(const std::string& aid, const std::string& oldPw, const std::string& newPw);

struct [[nodiscard]] ProxyAnswer {
  int code = kFailed;
  std::string rtnCode, rtnMsg;
};
struct [[nodiscard]] VerifyOnlinePwResult {
  int code = kFailed;
  std::string rtnCode, rtnMsg, pwid;
};
VerifyOnlinePwResult verifyOnlinePw(const std::string& id, const std::string& aid, const std::string& pw,
                                    const std::string& applyType);
ProxyAnswer verifyPwBag(const std::string& id, const std::string& aid, const std::string& pw);

struct [[nodiscard]] OnlinePwResult {
  int code = kFailed;
  std::string rtnCode, rtnMsg, onlinepw, createtime;
};
OnlinePwResult getOnlinePw(const std::string& id, const std::string& aid, const std::string& notifyType,
                           const std::string& notifyAddr, const std::string& birthday,
                           const std::string& applyType);

int doLogout();
void iAmAlive();
MapResult qryBranch(const std::string& id);
MapResult qryBranchAll();
void writeLog(const std::string& id, const std::string& aid, const std::string& funcid,
              const std::string& memo);
void writeLog2(const std::string& id, const std::string& aid, const std::string& funcid,
               const std::string& memo);

struct RegItem {
  std::string regPath, regName, regValue, regValueType, regDesc, regId;
};
struct [[nodiscard]] RegSetResult {
  int code = kFailed;  // 0, 59903, 59905
  std::vector<RegItem> items;  // every candidate child, in document order
};
RegSetResult getRegSet();

}  // namespace quil::proxy
