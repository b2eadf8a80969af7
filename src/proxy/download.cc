#include "proxy/download.h"

#include <algorithm>

#include "base/files.h"
#include "base/result_codes.h"
#include "platform/text_codec.h"
#include "proxy/curl_easy_internal.h"
#include "ui/progress_window.h"

namespace quil::proxy {
namespace {

constexpr size_t kChunk = 1024;
// Without a total, a kilobyte report every this many bytes.
constexpr long long kUnknownTotalReportBytes = 512 * 1024;

std::string Narrow(const char* text) { return platform::ToNarrow(text); }

std::string KilobyteText(long long done) {
  return Narrow("檔案下載中, 已下載 ") + std::to_string(done / 1024) + " KB  ...";
}

struct Transfer {
  CURL* curl = nullptr;
  std::string target;
  std::unique_ptr<PendingFile> file;
  bool bad_status = false;
  bool write_failed = false;
  long long total = -1;  // Content-Length, -1 when unknown or zero
  long long done = 0;
  long long last_percent = 0;
  long long last_report_bytes = 0;

  // Checks the status and opens the file on the first body bytes (or at
  // the end of an empty 200 reply).
  bool Start() {
    if (file) return true;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
      bad_status = true;
      return false;
    }
    curl_off_t length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    total = length > 0 ? static_cast<long long>(length) : -1;
    file = PendingFile::Create(target, 0644);
    if (!file) {
      write_failed = true;
      return false;
    }
    ui::reportProgress(Narrow("檔案下載"), "", 0, 100, Narrow("開始下載檔案 ..."));
    return true;
  }

  // One read of at most kChunk bytes, as the progress arithmetic counts them.
  bool Chunk(const char* data, size_t n) {
    if (!file->Write(std::string_view(data, n))) {
      write_failed = true;
      return false;
    }
    done += static_cast<long long>(n);
    if (total > 0) {
      long long percent = done * 100 / total;
      if (percent - last_percent > 10) {
        ui::reportProgress(Narrow("檔案下載"), "", static_cast<int>(percent), 100, KilobyteText(done));
        last_percent = percent;
      }
    } else if (done - last_report_bytes >= kUnknownTotalReportBytes) {
      ui::reportProgress(Narrow("檔案下載"), "", 0, 100, KilobyteText(done));
      last_report_bytes = done;
    }
    return true;
  }
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (!t->Start()) return 0;  // aborts the transfer
  for (size_t at = 0; at < n; at += kChunk)
    if (!t->Chunk(data + at, std::min(kChunk, n - at))) return 0;
  return n;
}

}  // namespace

int downloadFile(const std::string& url, const std::string& path) {
  if (url.empty()) return kFailed;
  std::unique_ptr<internal::Easy> easy = internal::NewEasy();
  if (!easy) return kDownloadFailed;
  CURL* c = easy->handle.get();
  Transfer t;
  t.curl = c;
  t.target = path;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);

  CURLcode code = curl_easy_perform(c);
  bool ok = code == CURLE_OK && t.Start() && t.file->Commit() == 0;
  if (!ok) {
    bool shown = t.file != nullptr;
    t.file.reset();  // removes the partial file
    if (shown) ui::reportProgress("", "", -1, 0, Narrow("檔案下載失敗"));
    return kDownloadFailed;
  }
  ui::reportProgress(Narrow("檔案下載"), "", 100, 100, KilobyteText(t.done));
  ui::reportProgress("", "", -1, 0, Narrow("檔案下載完成 ..."));
  return 0;
}

}  // namespace quil::proxy
