// The one seam every window shows its message boxes through.
//
// Windows call ShowMessage(); by default it opens a modal QMessageBox. Tests
// install their own handler with ScopedMessageHandler, record what would have
// been shown and give the answer, so no test ever waits on a real modal box.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace fw {

// OkCancel is a warning with OK and Cancel (answered Ok or Cancel).
enum class MessageKind { Information, Warning, Error, Question, OkCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct MessageRequest {
  MessageKind kind = MessageKind::Information;
  std::string title; // 8-bit Latin-1, like all texts of the station
  std::string text;
  QWidget *parent = nullptr; // the window the box belongs to, if any
};

using MessageHandler = std::function<MessageAnswer(const MessageRequest &)>;

// Shows a box through the current handler and returns the operator's answer.
// Question boxes offer Yes and No, OkCancel boxes OK and Cancel; the others
// only OK.
MessageAnswer ShowMessage(const MessageRequest &request);

// Convenience for the plain boxes of the station.
void ShowInformation(const std::string &text, QWidget *parent = nullptr);
void ShowError(const std::string &text, QWidget *parent = nullptr);
// A warning with OK and Cancel over the parent window; true for OK.
bool ConfirmOkCancel(QWidget *parent, const std::string &title, const std::string &text);

// The last-resort box for an error that escaped the start sequence or an
// event handler.
void ShowLastResortError(const std::string &what);

// Replaces the handler; returns the previous one. An empty handler restores
// the default (QMessageBox).
MessageHandler SetMessageHandler(MessageHandler handler);

// Installs a handler for the lifetime of the object (tests).
class ScopedMessageHandler {
public:
  explicit ScopedMessageHandler(MessageHandler handler) : previous_(SetMessageHandler(std::move(handler))) {}
  ~ScopedMessageHandler() { SetMessageHandler(std::move(previous_)); }
  ScopedMessageHandler(const ScopedMessageHandler &) = delete;
  ScopedMessageHandler &operator=(const ScopedMessageHandler &) = delete;

private:
  MessageHandler previous_;
};

} // namespace fw
