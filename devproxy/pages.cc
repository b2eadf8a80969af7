#include "devproxy/pages.h"

#include <algorithm>

#include "build_config.h"
#include "devproxy/markup.h"

namespace quil::devproxy {

std::string DeployTemplatePage(const std::string& trading_url) {
  return R"(<!DOCTYPE html>
<html lang="zh-Hant">
<head>
<meta charset="utf-8">
<title>QUIL 瀏覽器憑證部署</title>
<style>
body { font-family: sans-serif; margin: 2em; }
table { border-collapse: collapse; }
td, th { border: 1px solid #999; padding: 4px 8px; text-align: left; }
#status { font-weight: bold; margin: 1em 0; }
</style>
<script>
#importCertInfo#
</script>
</head>
<body>
<h1>瀏覽器憑證部署</h1>
<div id="status"></div>
<table id="fields"></table>
<p><a id="trading" href=")" + EscapeMarkup(trading_url) + R"(">前往示範網路下單</a></p>
<script>
(function () {
  var status = document.getElementById('status');
  var table = document.getElementById('fields');
  if (typeof certInfo !== 'object') {
    status.textContent = '未收到憑證資訊';
    return;
  }
  var names = ['opType', 'cn', 'serial', 'issuer', 'subject', 'notBefore', 'notAfter',
               'certfinger', 'b64P12Cert', 'certb64'];
  names.forEach(function (name) {
    var row = table.insertRow();
    row.insertCell().textContent = name;
    var value = String(certInfo[name] || '');
    row.insertCell().textContent = value.length > 64 ? value.substring(0, 64) + '... (' + value.length + ')' : value;
  });
  var key = 'quil.deployedCert';
  try {
    if (certInfo.opType === 'deploy') {
      localStorage.setItem(key, JSON.stringify(certInfo));
      status.textContent = '憑證已匯入此瀏覽器 (' + certInfo.cn + ')';
    } else if (certInfo.opType === 'remove') {
      localStorage.removeItem(key);
      status.textContent = '憑證已自此瀏覽器移除 (' + certInfo.cn + ')';
    } else {
      status.textContent = '未知的作業: ' + certInfo.opType;
    }
  } catch (e) {
    status.textContent = '瀏覽器儲存區無法使用: ' + e;
  }
  document.title = 'QUIL ' + certInfo.opType + ' ' + certInfo.cn;
})();
</script>
</body>
</html>
)";
}

std::string MailboxPage(const std::vector<MailItem>& mail) {
  std::string rows;
  for (auto it = mail.rbegin(); it != mail.rend(); ++it) {
    rows += "<tr><td>" + EscapeMarkup(it->created) + "</td><td>" + EscapeMarkup(it->idno) + "</td><td>" +
            (it->notify_type == "0" ? "e-mail " : "SMS ") + EscapeMarkup(it->notify_addr) + "</td><td>" +
            EscapeMarkup(it->apply_type) + "</td><td class=code>" + EscapeMarkup(it->code) + "</td><td>" +
            EscapeMarkup(it->reference) + "</td><td>" + EscapeMarkup(it->expires) + "</td></tr>\n";
  }
  return R"(<!DOCTYPE html>
<html lang="zh-Hant"><head><meta charset="utf-8"><meta http-equiv="refresh" content="5">
<title>QUIL 示範信箱</title>
<style>body{font-family:sans-serif;margin:2em}td,th{border:1px solid #999;padding:4px 8px}
table{border-collapse:collapse}.code{font-size:1.4em;font-weight:bold;letter-spacing:.2em}</style>
</head><body><h1>示範信箱: 已寄出的憑證認證碼</h1>
<table><tr><th>寄出時間</th><th>身分證號</th><th>寄送至</th><th>用途</th><th>認證碼</th><th>參考序號</th><th>有效至</th></tr>
)" + rows + "</table></body></html>\n";
}

std::optional<std::string> DownloadFile(const std::string& name) {
  if (name != "MeroCpnt.cab") return std::nullopt;
  std::string banner = "QUIL demo security component package\n";
  // Large enough that a download reports progress several times.
  std::string bytes;
  bytes.reserve(300 * 1024);
  while (bytes.size() < 300 * 1024) bytes += banner;
  return bytes;
}

namespace {

// `text` as one single-quoted shell word; line breaks become blanks.
std::string ShellWord(std::string text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out.push_back(c == '\n' || c == '\r' ? ' ' : c);
  }
  return out + "'";
}

}  // namespace

std::string ComponentInstallerScript(const std::string& class_id, const ComponentFiles& files) {
  return "#!/bin/sh\n"
         "# QUIL demo security component installer: the signing host and the QUIL\n"
         "# extension, for the current user.\n"
         "set -eu\n"
         "# Started from a program that may have a PATH of its own.\n"
         "PATH=\"$PATH:/usr/local/bin:/usr/bin:/bin\"\n"
         "class_id=" + ShellWord(class_id) + "\n"
         "quil=" + ShellWord(files.quil) + "\n"
         "[ -x \"$quil\" ] || quil=quil\n"
         "signer=" + ShellWord(files.signer) + "\n"
         "[ -x \"$signer\" ] || signer=$(command -v quil-signer)\n"
         "extension=" + ShellWord(files.extension_dir) + "\n"
         "[ -d \"$extension\" ] || extension=/usr/share/quil/signer/extension\n"
         "xpi=" + ShellWord(files.extension_xpi) + "\n"
         "[ -f \"$xpi\" ] || xpi=/usr/share/quil/signer/quil-signer.xpi\n"
         "host=" QUIL_SIGNER_HOST_NAME "\n"
         "gecko_id=" QUIL_EXTENSION_GECKO_ID "\n"
         "chromium_id=" QUIL_EXTENSION_CHROMIUM_ID "\n"
         "data=\"${XDG_DATA_HOME:-$HOME/.local/share}/quil/signer\"\n"
         "config=\"${XDG_CONFIG_HOME:-$HOME/.config}\"\n"
         "mkdir -p \"$data\"\n"
         "# Each file is written beside its place and then renamed over it.\n"
         "cp \"$signer\" \"$data/quil-signer.part\"\n"
         "chmod 0755 \"$data/quil-signer.part\"\n"
         "mv -f \"$data/quil-signer.part\" \"$data/quil-signer\"\n"
         "rm -rf \"$data/extension.part\"\n"
         "cp -R \"$extension\" \"$data/extension.part\"\n"
         "rm -rf \"$data/extension\"\n"
         "mv \"$data/extension.part\" \"$data/extension\"\n"
         "cp \"$xpi\" \"$data/quil-signer.xpi.part\"\n"
         "mv -f \"$data/quil-signer.xpi.part\" \"$data/quil-signer.xpi\"\n"
         "# The browsers start the host named by its manifest.\n"
         "manifest() {\n"
         "  mkdir -p \"$1\"\n"
         "  printf '{\\n  \"name\": \"%s\",\\n  \"description\": \"QUIL signing component\",\\n"
         "  \"path\": \"%s\",\\n  \"type\": \"stdio\",\\n  %s\\n}\\n' \"$host\" \"$data/quil-signer\" \"$2\""
         " > \"$1/$host.json.part\"\n"
         "  mv -f \"$1/$host.json.part\" \"$1/$host.json\"\n"
         "}\n"
         "chromium_allowed=\"\\\"allowed_origins\\\": [\\\"chrome-extension://$chromium_id/\\\"]\"\n"
         "manifest \"$config/chromium/NativeMessagingHosts\" \"$chromium_allowed\"\n"
         "manifest \"$config/google-chrome/NativeMessagingHosts\" \"$chromium_allowed\"\n"
         "manifest \"$HOME/.mozilla/native-messaging-hosts\" \"\\\"allowed_extensions\\\": [\\\"$gecko_id\\\"]\"\n"
         "# Firefox: the extension in each of the user's profiles, which then\n"
         "# take an unsigned extension installed there.\n"
         "ini=\"$HOME/.mozilla/firefox/profiles.ini\"\n"
         "if [ -f \"$ini\" ]; then\n"
         "  awk -F= -v base=\"$HOME/.mozilla/firefox\" '\n"
         "    function done() { if (p != \"\") print (r == \"0\" ? p : base \"/\" p); p = \"\"; r = \"1\" }\n"
         "    /^\\[/ { done() } { sub(/\\r$/, \"\") } $1 == \"Path\" { p = substr($0, 6) }\n"
         "    $1 == \"IsRelative\" { r = $2 } END { done() }' \"$ini\" |\n"
         "  while IFS= read -r profile; do\n"
         "    [ -d \"$profile\" ] || continue\n"
         "    mkdir -p \"$profile/extensions\"\n"
         "    cp \"$data/quil-signer.xpi\" \"$profile/extensions/$gecko_id.xpi.part\"\n"
         "    mv -f \"$profile/extensions/$gecko_id.xpi.part\" \"$profile/extensions/$gecko_id.xpi\"\n"
         "    for pref in 'user_pref(\"xpinstall.signatures.required\", false);' "
         "'user_pref(\"extensions.autoDisableScopes\", 0);'; do\n"
         "      grep -qxF \"$pref\" \"$profile/user.js\" 2>/dev/null || printf '%s\\n' \"$pref\" >> \"$profile/user.js\"\n"
         "    done\n"
         "  done\n"
         "fi\n"
         "# Registered as the component's local server, as Windows registers one.\n"
         "\"$quil\" reg add \"HKCU\\\\Software\\\\Classes\\\\CLSID\\\\$class_id\\\\LocalServer32\" /ve /d "
         "\"$data/quil-signer\" /f >/dev/null\n"
         "\"$quil\" reg add 'HKCU\\Software\\MERO\\MeroCpnt' /v Installed /t REG_DWORD /d 1 /f >/dev/null\n";
}

}  // namespace quil::devproxy
