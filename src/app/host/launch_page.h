#pragma once
// The page the browser is started on: a private local file that forwards to
// the page address with its token. Every local user can read a program's
// command line, so the token never goes there; the file is readable by
// this user only and is removed once the page has come up (or at exit).
#include <memory>
#include <string>

namespace quil::host {

class LaunchPage {
 public:
  // Writes the file (mode 0600, a new name under the state folder); nothing
  // and a message when it cannot be written.
  static std::unique_ptr<LaunchPage> Create(const std::string& address, std::string* problem);
  ~LaunchPage();  // removes the file
  LaunchPage(const LaunchPage&) = delete;
  LaunchPage& operator=(const LaunchPage&) = delete;

  const std::string& path() const { return path_; }
  // The file:// address of the file, for the browser's command line.
  std::string url() const;

 private:
  explicit LaunchPage(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace quil::host
