#include "app/reply_format.h"

#include <gtest/gtest.h>

#include "base/result_codes.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

TEST(ReplyFormatTest, EveryShapeFormatsAsThePageReadsIt) {
  struct Case {
    const char* name;
    std::string got;
    const char* want;
  } kCases[] = {
      {"plain", FormatReply(kReplyPlain, kVersionMismatch, "<53705>用戶端版本資訊不符"),
       "{'errCode':'53705','errMsg':'<53705>用戶端版本資訊不符'}"},
      {"map", FormatReply(kReplyMap, 0, "", ",'a':'1'"), "{'errCode':'0','errMsg':'','a':'1'}"},
      {"map and list", FormatReply(kReplyMapAndList, 0, "", ",'a':'1'", ",'moCerts':[]"),
       "{'errCode':'0','errMsg':'','a':'1','moCerts':[]}"},
      {"login", FormatReply(kReplyLogin, -3, "m", ",'id':'A1'", "x"),
       "{'errCode':'-3','errMsg':'m','id':'A1','extraMsg':'x'}"},
      {"changePw", FormatReply(kReplyChangePw, kAccountReplyUnreadable, "<53909>", "e"),
       "{'errCode':'53909','errMsg':'<53909>','extraMsg':'e'}"},
      {"code only", FormatReply(kReplyCodeOnly, kPfxFileLoadFailed), "{'errCode':'52301'}"},
      {"client version", FormatReply(kReplyClientVersion, 0, "", "1.9"),
       "{'errCode':'0','errMsg':'','clientVersion':'1.9'}"},
      {"pfx path", FormatReply(kReplyPfxFilePath, 0, "", "C:\\\\a", "Y"),
       "{'errCode':'0','errMsg':'','pfxFilePath':'C:\\\\a','pfxFileExist':'Y'}"},
      {"version check", FormatReply(kReplyVersionCheck, 0, "", "n", "true", "t", "false", "l", "true", "800", "600"),
       "{'errCode':'0','errMsg':'','notice':'n','available':'true','generalReportText':'t',"
       "'isShowReportText':'false','generalReportLink':'l','isShowReportLink':'true','width':'800','height':'600'}"},
      {"verify online pw", FormatReply(kReplyVerifyOnlinePw, 0, "", "0", "ok", "P1"),
       "{'errCode':'0','errMsg':'','rtnCode':'0','rtnMsg':'ok','pwid':'P1'}"},
      {"verify pw bag", FormatReply(kReplyVerifyPwBag, kVerifyPwBagMissing, "<55009>", "-2", "no"),
       "{'errCode':'55009','errMsg':'<55009>','rtnCode':'-2','rtnMsg':'no'}"},
      {"online pw", FormatReply(kReplyOnlinePw, 0, "", "123456", "20261210", "0", ""),
       "{'errCode':'0','errMsg':'','onlinePw':'123456','createTime':'20261210','rtnCode':'0','rtnMsg':''}"},
      {"fn status", FormatReply(kReplyFnStatus, 0, "", "11000", 2, 1),
       "{'errCode':'0','errMsg':'','fnStatus':'11000','certCount':'2','effectCertCount':'1'}"},
      {"new cert", FormatReply(kReplyNewCert, 0, "", "MIIB", 42),
       "{'errCode':'0','errMsg':'','b64Cert':'MIIB','applyId':'42'}"},
      {"path", FormatReply(kReplyPath, 1, "", "/home/u/"), "{'errCode':'1','errMsg':'','path':'/home/u/'}"},
      {"login info", FormatReply(kReplyLoginInfo, 0, "acc", "0000123", "1010 台北"),
       "{'errCode':'0','type':'acc','value':'0000123','branch':'1010 台北'}"},
      {"random", FormatReply(kReplyRandom, 0, "", 0.5), "{'errCode':'0','errMsg':'','rnd':'0.500000'}"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(ReplyFormatTest, MapEntriesFollowByteOrderOfTheKeys) {
  FieldMap map = {{"alpha", "a"}, {"Zeta", "z"}, {"beta", ""}};
  EXPECT_EQ(AppendMap(map), ",'Zeta':'z','alpha':'a','beta':''");
  EXPECT_EQ(AppendMap({}), "");
}

TEST(ReplyFormatTest, BackslashesAreDoubledOnlyWhereAsked) {
  FieldMap map = {{"path", "C:\\a\\b.P12"}};
  EXPECT_EQ(AppendMap(map), ",'path':'C:\\a\\b.P12'");
  EXPECT_EQ(AppendMap(map, true), ",'path':'C:\\\\a\\\\b.P12'");
}

// In code page 950 the second byte of 功 (A5 5C) and 許 (B3 5C) is the
// backslash byte; only backslashes of their own are doubled.
TEST(ReplyFormatTest, DoublingLeavesDoubleByteCharactersWhole) {
  using platform::ToNarrow;
  struct Case {
    const char* name;
    std::string narrow;
    std::string want;
  } kCases[] = {
      {"windows path", "C:\\a\\b.P12", "C:\\\\a\\\\b.P12"},
      {"two in a row", "\\\\x", "\\\\\\\\x"},
      {"功 at the end", ToNarrow("申請成功"), ToNarrow("申請成功")},
      {"許 then a backslash of its own", ToNarrow("許\\功"), ToNarrow("許\\\\功")},
      {"a backslash after a single-byte character", ToNarrow("A\\許"), ToNarrow("A\\\\許")},
      {"a lead byte with nothing after it", "a\xA5", "a\xA5"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DoubleBackslashes(c.narrow), c.want);
    EXPECT_EQ(AppendMap({{"k", c.narrow}}, true), ",'k':'" + c.want + "'");
    EXPECT_EQ(AppendMoCerts({{{"k", c.narrow}}}), ",'moCerts':[{'k':'" + c.want + "'}]");
  }
}

TEST(ReplyFormatTest, MobileCertificateListKeepsOrderAndDoublesBackslashes) {
  EXPECT_EQ(AppendMoCerts({}), ",'moCerts':[]");
  std::vector<FieldMap> certs = {{{"serial", "9F"}, {"cn", "A\\1"}}, {}};
  EXPECT_EQ(AppendMoCerts(certs), ",'moCerts':[{'cn':'A\\\\1','serial':'9F'},{}]");
}

}  // namespace
}  // namespace quil
