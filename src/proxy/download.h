#pragma once
#include <string>

namespace quil::proxy {

// Downloads `url` to `path` (both UTF-8) with the progress window
// ("檔案下載"): a start report, a report each time the share grows by more
// than 10 percent, 100 percent with the final kilobytes, then
// "檔案下載完成 ...". Without a Content-Length the reports give kilobytes
// only. Returns 0; 1 for an empty url (nothing shown); 59901 for a status
// other than 200, a network failure or a file that cannot be written. The
// file appears only when complete: on failure the target is untouched and
// no partial file is left. Blocking; application thread only.
int downloadFile(const std::string& url, const std::string& path);

}  // namespace quil::proxy
