// Headless platform: scripted answers and recorded calls, for tests and for
// programs without a window system.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/Export.h"
#include "platform/Platform.h"

namespace platform {

class QUORVEL_API HeadlessMessageBox : public IMessageBox {
 public:
  struct Shown {
    std::string text;
    long style;
    std::string title;
  };
  long Show(const std::string& text, long style, const std::string& title) override;
  // Queues the next answers; without one, the default button answers
  // (OK, or Yes for Yes/No).
  void ScriptAnswer(long answer) { answers_.push_back(answer); }
  const std::vector<Shown>& History() const { return shown_; }

 private:
  std::deque<long> answers_;
  std::vector<Shown> shown_;
};

class QUORVEL_API HeadlessMousePointer : public IMousePointer {
 public:
  long Get() override { return pointer_; }
  void Set(long pointer) override {
    pointer_ = pointer;
    history_.push_back(pointer);
  }
  const std::vector<long>& History() const { return history_; }

 private:
  long pointer_ = vbDefault;
  std::vector<long> history_;
};

// Runs queued callbacks, one per DoEvents call, in order; a callback is how
// a test "clicks" a button while the driver waits.
class QUORVEL_API HeadlessEventPump : public IEventPump {
 public:
  void DoEvents() override;
  // Runs `callback` at the n-th DoEvents from now (1 = the next one).
  void PostAt(long n, std::function<void()> callback);
  void Post(std::function<void()> callback) { PostAt(1, std::move(callback)); }
  long Count() const { return count_; }

 private:
  struct Pending {
    long at;
    std::function<void()> callback;
  };
  std::vector<Pending> pending_;
  long count_ = 0;
};

// Answers with the queued file names ("" = cancelled); without one, cancels.
class QUORVEL_API HeadlessFileDialog : public IFileDialog {
 public:
  struct Shown {
    std::string filter;
    long filterIndex;
    std::string fileName;
  };
  std::string ShowOpen(const std::string& filter, long filterIndex, const std::string& fileName) override;
  void ScriptAnswer(std::string path) { answers_.push_back(std::move(path)); }
  const std::vector<Shown>& History() const { return shown_; }

 private:
  std::deque<std::string> answers_;
  std::vector<Shown> shown_;
};

// A bundle of the stand-ins, kept together so tests can reach them.
struct QUORVEL_API HeadlessPlatform {
  std::shared_ptr<HeadlessMessageBox> messageBox = std::make_shared<HeadlessMessageBox>();
  std::shared_ptr<HeadlessMousePointer> mouse = std::make_shared<HeadlessMousePointer>();
  std::shared_ptr<HeadlessEventPump> events = std::make_shared<HeadlessEventPump>();
  std::shared_ptr<HeadlessFileDialog> fileDialog = std::make_shared<HeadlessFileDialog>();
  Services services() const { return {messageBox, mouse, events, fileDialog, {}}; }
};

}  // namespace platform
