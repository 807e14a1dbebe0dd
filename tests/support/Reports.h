// SPDX-License-Identifier: MIT
// Catches what goes to the application's exception report while it lives.
#pragma once

#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "Classes.h"

namespace cport::test {

class TReportCatcher {
 public:
  TReportCatcher() {
    SetApplicationExceptionHandler([this](std::exception_ptr e) {
      std::string text;
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        text = ex.what();
      } catch (...) {
      }
      std::lock_guard<std::mutex> lock(FMutex);
      FReports.push_back(text);
    });
  }
  ~TReportCatcher() { SetApplicationExceptionHandler(nullptr); }
  TReportCatcher(const TReportCatcher&) = delete;
  TReportCatcher& operator=(const TReportCatcher&) = delete;

  std::vector<std::string> Reports() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FReports;
  }
  std::string Last() const {
    auto r = Reports();
    return r.empty() ? std::string() : r.back();
  }

 private:
  mutable std::mutex FMutex;
  std::vector<std::string> FReports;
};

}  // namespace cport::test
