#pragma once
// The reply texts the page reads: single-quoted object literals that begin
// with "{'errCode':'". Values are inserted as they are, except where a
// method asks for backslash doubling. Replies are wide (UTF-8).
#include <string>
#include <vector>

#include "base/field_map.h"
#include "base/text.h"

namespace quil {

// The reply shapes, used exactly as they stand.
inline constexpr const char kReplyPlain[] = "{'errCode':'%d','errMsg':'%s'}";
inline constexpr const char kReplyMap[] = "{'errCode':'%d','errMsg':'%s'%s}";
inline constexpr const char kReplyMapAndList[] = "{'errCode':'%d','errMsg':'%s'%s%s}";
inline constexpr const char kReplyLogin[] = "{'errCode':'%d','errMsg':'%s'%s,'extraMsg':'%s'}";
inline constexpr const char kReplyChangePw[] = "{'errCode':'%d','errMsg':'%s','extraMsg':'%s'}";
inline constexpr const char kReplyCodeOnly[] = "{'errCode':'%d'}";
inline constexpr const char kReplyClientVersion[] = "{'errCode':'%d','errMsg':'%s','clientVersion':'%s'}";
inline constexpr const char kReplyPfxFilePath[] =
    "{'errCode':'%d','errMsg':'%s','pfxFilePath':'%s','pfxFileExist':'%s'}";
inline constexpr const char kReplyVersionCheck[] =
    "{'errCode':'%d','errMsg':'%s','notice':'%s','available':'%s','generalReportText':'%s',"
    "'isShowReportText':'%s','generalReportLink':'%s','isShowReportLink':'%s','width':'%s',"
    "'height':'%s'}";
inline constexpr const char kReplyVerifyOnlinePw[] =
    "{'errCode':'%d','errMsg':'%s','rtnCode':'%s','rtnMsg':'%s','pwid':'%s'}";
inline constexpr const char kReplyVerifyPwBag[] = "{'errCode':'%d','errMsg':'%s','rtnCode':'%s','rtnMsg':'%s'}";
inline constexpr const char kReplyOnlinePw[] =
    "{'errCode':'%d','errMsg':'%s','onlinePw':'%s','createTime':'%s','rtnCode':'%s','rtnMsg':'%s'}";
inline constexpr const char kReplyFnStatus[] =
    "{'errCode':'%d','errMsg':'%s','fnStatus':'%s','certCount':'%d','effectCertCount':'%d'}";
inline constexpr const char kReplyNewCert[] = "{'errCode':'%d','errMsg':'%s','b64Cert':'%s','applyId':'%d'}";
inline constexpr const char kReplyPath[] = "{'errCode':'%d','errMsg':'%s','path':'%s'}";
inline constexpr const char kReplyLoginInfo[] = "{'errCode':'%d','type':'%s','value':'%s','branch':'%s'}";
inline constexpr const char kReplyRandom[] = "{'errCode':'%d','errMsg':'%s','rnd':'%f'}";

// printf-style formatting of a reply; `format` is one of the constants above.
std::string FormatReply(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ",'key':'value'" for each entry in key order (narrow in, narrow out),
// values optionally with their backslashes doubled (DoubleBackslashes).
std::string AppendMap(const FieldMap& map, bool double_backslashes = false);

// ",'moCerts':[{...},{...}]" with each object's values backslash-doubled.
std::string AppendMoCerts(const std::vector<FieldMap>& certs);

// The plain reply for a code with its catalogue text: the shape used by
// most text methods.
std::string PlainReply(int code);

}  // namespace quil
