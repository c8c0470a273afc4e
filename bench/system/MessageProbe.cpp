#include "MessageProbe.h"

#include <type_traits>

#include "Measure.h"

namespace udra::sysbench {
namespace {

// The probe whose window is alive (one at a time): the procedure is a plain function.
MessageProbe* g_probe = nullptr;

}  // namespace

MessageProbe::~MessageProbe() {
  if (window_) destroy_(window_);
  if (g_probe == this) g_probe = nullptr;
  platform::FreeModule(module_);
}

bool MessageProbe::Open(const std::string& libraryPath, std::string& error) {
  if (g_probe) {
    error = "another probe is open";
    return false;
  }
  module_ = platform::LoadModule(libraryPath);
  if (!module_) {
    error = "cannot load " + libraryPath;
    return false;
  }
  auto bind = [this](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(platform::ModuleSymbol(module_, name));
    return fn != nullptr;
  };
  if (!bind(create_, "udra_create_message_window") || !bind(destroy_, "udra_destroy_window") ||
      !bind(peek_, "udra_peek_message") || !bind(dispatch_, "udra_dispatch_message") ||
      !bind(post_, "udra_post_message") || !bind(default_, "udra_default_window_proc")) {
    error = "the library lacks the message-window functions";
    return false;
  }
  g_probe = this;
  window_ = create_(&MessageProbe::Procedure, this);
  if (!window_) error = "cannot create the probe window";
  return window_ != nullptr;
}

intptr_t MessageProbe::Procedure(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  MessageProbe* probe = g_probe;
  if (!probe) return 0;
  if (message == kPing && wparam == probe->expectPing_) probe->pinged_ = true;
  if (message == UDRA_WM_SYNC_RETURN && int32_t(wparam) == probe->expectSync_) probe->synced_ = true;
  return probe->default_(wnd, message, wparam, lparam);
}

bool MessageProbe::PumpUntilSet(const bool* flag) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  udra_msg msg;
  while (!*flag) {
    while (peek_(&msg, 1) > 0) {
      dispatch_(&msg);
      if (*flag) return true;
    }
    if (Clock::now() >= deadline) return false;
  }
  return true;
}

double MessageProbe::PostRoundTrip() {
  expectPing_ = nextPing_++;
  pinged_ = false;
  const auto start = Clock::now();
  if (!post_(window_, kPing, expectPing_, 0)) return -1;
  if (!PumpUntilSet(&pinged_)) return -1;
  return SecondsSince(start);
}

double MessageProbe::SyncRoundTrip(IResourceManager* manager, const std::string& path, int32_t& state) {
  synced_ = false;
  state = -1;
  const auto start = Clock::now();
  // The id is known only once StartSync returns; the message is posted, so
  // it cannot be dispatched before that.
  expectSync_ = manager->StartSync(path.c_str(), window_, 0, 0);
  if (expectSync_ == -1) return -1;
  if (!PumpUntilSet(&synced_)) return -1;
  const double seconds = SecondsSince(start);
  SyncInfo info{};
  if (manager->GetSyncInfo(expectSync_, &info)) state = info.state;
  return seconds;
}

}  // namespace udra::sysbench
