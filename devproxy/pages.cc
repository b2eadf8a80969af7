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
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>瀏覽器憑證</title>
<style>
body { font-family: "Noto Sans CJK TC", "Microsoft JhengHei", sans-serif; margin: 0; color: #1a1a1a; background: #f2f4f7; line-height: 1.6; }
main { max-width: 42em; margin: 2em auto; padding: 1.5em 2em; background: #fff; border: 1px solid #c9d1da; border-radius: 8px; }
h1 { font-size: 1.5em; margin: 0 0 .5em; }
h2 { font-size: 1.1em; margin: 1.2em 0 .4em; }
dl { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1em; margin: 0; }
dt { font-weight: bold; }
dd { margin: 0; overflow-wrap: anywhere; }
li { margin: .3em 0; }
.action { display: inline-block; margin-top: .5em; padding: .5em 1.2em; border-radius: 4px; background: #0b57d0; color: #fff; text-decoration: none; }
.action:focus { outline: 3px solid #1a1a1a; outline-offset: 2px; }
.note { margin-top: 1.5em; font-size: .9em; color: #4a4a4a; }
</style>
<script>
#importCertInfo#
</script>
</head>
<body>
<main>
<h1 id="heading">瀏覽器憑證</h1>
<p id="summary"></p>
<section id="details" hidden>
<h2>憑證資料</h2>
<dl>
<dt>憑證名稱</dt><dd id="cn"></dd>
<dt>序號</dt><dd id="serial"></dd>
<dt>發行單位</dt><dd id="issuer"></dd>
<dt>有效期間</dt><dd id="validity"></dd>
</dl>
</section>
<section id="next" hidden>
<h2>接下來請您</h2>
<ol id="steps"></ol>
</section>
<p id="trading" hidden><a class="action" href=")" +
         EscapeMarkup(trading_url) + R"(">前往示範網路下單</a></p>
<p class="note">此頁由 QUIL 憑證管理程式為您開啟，只列出憑證的公開資料；憑證的私密金鑰不會出現在任何網頁上。</p>
</main>
<script>
(function () {
  function put(id, value) { document.getElementById(id).textContent = value; }
  function show(id) { document.getElementById(id).hidden = false; }
  // 14 digits of local time as the customer reads a date.
  function when(value) {
    var v = String(value || '');
    return /^[0-9]{14}$/.test(v)
        ? v.substr(0, 4) + '/' + v.substr(4, 2) + '/' + v.substr(6, 2) + ' ' + v.substr(8, 2) + ':' + v.substr(10, 2)
        : v;
  }
  function steps(list) {
    var ol = document.getElementById('steps');
    list.forEach(function (text) {
      var li = document.createElement('li');
      li.textContent = text;
      ol.appendChild(li);
    });
    show('next');
  }
  function headed(text) {
    put('heading', text);
    document.title = text;
  }
  if (typeof certInfo !== 'object' || certInfo === null) {
    headed('未收到憑證資料');
    put('summary', '這一頁沒有收到憑證資料，瀏覽器中的憑證沒有任何變更。');
    steps(['請回到 QUIL 憑證管理程式，重新執行「匯入瀏覽器憑證」或「移除瀏覽器憑證」。']);
    return;
  }
  var cn = String(certInfo.cn || '');
  put('cn', cn);
  put('serial', String(certInfo.serial || ''));
  put('issuer', String(certInfo.issuer || ''));
  put('validity', when(certInfo.notBefore) + ' 至 ' + when(certInfo.notAfter));
  show('details');
  // Only what identifies the certificate is kept, never the certificate
  // file itself.
  var key = 'quil.deployedCert';
  var kept = JSON.stringify({ cn: cn, serial: String(certInfo.serial || ''), issuer: String(certInfo.issuer || ''),
                              notAfter: String(certInfo.notAfter || '') });
  if (certInfo.opType === 'deploy') {
    headed('瀏覽器憑證安裝完成');
    put('summary', 'QUIL 已為這個瀏覽器安裝您的電子憑證，您可以用它登入網路下單。各瀏覽器的安裝結果請見 QUIL 視窗中的訊息。');
    steps(['按下方「前往示範網路下單」。',
           '瀏覽器詢問要使用哪一張憑證時，請選擇名稱為「' + cn + '」的憑證。',
           '若網站未詢問憑證就拒絕登入，請關閉這個瀏覽器的所有視窗，再重新開啟網路下單。']);
    show('trading');
    try { localStorage.setItem(key, kept); } catch (e) { /* private browsing: nothing to keep */ }
  } else if (certInfo.opType === 'remove') {
    headed('瀏覽器憑證已移除');
    put('summary', 'QUIL 已將這張電子憑證自這個瀏覽器移除，這個瀏覽器不能再用它登入網路下單。各瀏覽器的移除結果請見 QUIL 視窗中的訊息。');
    steps(['請關閉這個瀏覽器的所有視窗，讓移除生效。',
           '日後需要在這台電腦使用網路下單時，請在 QUIL 重新執行「匯入瀏覽器憑證」。']);
    try { localStorage.removeItem(key); } catch (e) { /* nothing kept */ }
  } else {
    headed('無法辨識的作業');
    put('summary', '這一頁收到的作業無法辨識，瀏覽器中的憑證沒有任何變更。');
    steps(['請回到 QUIL 憑證管理程式重新操作；若仍出現此頁，請與券商客服聯絡。']);
  }
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
