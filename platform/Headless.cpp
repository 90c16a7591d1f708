#include "platform/Headless.h"

#include <atomic>
#include <mutex>

namespace platform {

long HeadlessMessageBox::Show(const std::string& text, long style, const std::string& title) {
  shown_.push_back({text, style, title});
  if (!answers_.empty()) {
    const long a = answers_.front();
    answers_.pop_front();
    return a;
  }
  switch (style & 7) {
    case vbYesNo:
    case vbYesNoCancel: return vbYes;
    default: return vbOK;
  }
}

void HeadlessEventPump::DoEvents() {
  ++count_;
  // Take the due callbacks out first: a callback may post new ones or pump again.
  std::vector<std::function<void()>> due;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->at <= count_) {
      due.push_back(std::move(it->callback));
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& cb : due) cb();
}

void HeadlessEventPump::PostAt(long n, std::function<void()> callback) {
  pending_.push_back({count_ + (n < 1 ? 1 : n), std::move(callback)});
}

std::string HeadlessFileDialog::ShowOpen(const std::string& filter, long filterIndex, const std::string& fileName) {
  shown_.push_back({filter, filterIndex, fileName});
  if (answers_.empty()) return {};
  std::string answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

vb::Long NewWindowHandle() {
  static std::atomic<vb::Long> next{0x10000};
  return next.fetch_add(4);
}

}  // namespace platform
