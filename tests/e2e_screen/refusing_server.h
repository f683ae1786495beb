// An X server that refuses every client the tests start: it wants a cookie
// that only its own authority file holds.
#pragma once

#include <memory>
#include <string>

#include "live_child.h"
#include "e2e_files.h"

namespace halvic::e2e {

class RefusingServer {
 public:
  RefusingServer();
  ~RefusingServer() { server_->terminate(); }
  RefusingServer(const RefusingServer&) = delete;
  RefusingServer& operator=(const RefusingServer&) = delete;
  const std::string& display() const { return display_; }

 private:
  ScratchDirectory directory_;
  std::string display_;
  std::unique_ptr<LiveChild> server_;
};

}  // namespace halvic::e2e
