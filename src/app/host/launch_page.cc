#include "app/host/launch_page.h"

#include <unistd.h>

#include <cerrno>

#include "base/hex_text.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace quil::host {
namespace {

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    auto n = write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::unique_ptr<LaunchPage> LaunchPage::Create(const std::string& address, std::string* problem) {
  std::string folder = platform::StateFolder();
  if (!platform::MakeFolders(folder)) {
    *problem = "cannot create " + folder;
    return nullptr;
  }
  std::string name = folder + "/launch-XXXXXX";
  int fd = platform::CreateUniqueFile(&name, 0600);
  if (fd < 0) {
    *problem = "cannot write a file in " + folder;
    return nullptr;
  }
  // The address is ours (loopback, port, hex token): nothing in it needs
  // escaping in an attribute.
  std::string html =
      "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n<title>QUIL</title>\n"
      "<meta http-equiv=\"refresh\" content=\"0;url=" + address + "\">\n";
  bool written = WriteAll(fd, html);
  if (close(fd) != 0) written = false;
  // Browsers take a local file for a page by its extension.
  std::string page = name + ".html";
  if (!written || platform::ReplaceFileByRename(name, page) != 0) {
    platform::RemoveFile(name);
    *problem = "cannot write " + page;
    return nullptr;
  }
  return std::unique_ptr<LaunchPage>(new LaunchPage(page));
}

LaunchPage::~LaunchPage() { platform::RemoveFile(path_); }

std::string LaunchPage::url() const {
  std::string out = path_.empty() || path_[0] != '/' ? "file:///" : "file://";
  for (unsigned char c : path_) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                 c == '-' || c == '_' || c == '.' || c == '~' || c == ':';
    if (c == '\\') {
      out.push_back('/');
    } else if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      AppendHex(&out, c);
    }
  }
  return out;
}

}  // namespace quil::host
