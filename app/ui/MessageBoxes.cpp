#include "app/ui/MessageBoxes.h"

#include <QMessageBox>
#include <QString>

#include <mutex>

namespace fw {
namespace {

MessageAnswer ShowWithQt(const MessageRequest &request) {
  const QString title = QString::fromLatin1(request.title.c_str());
  const QString text = QString::fromLatin1(request.text.c_str());
  switch (request.kind) {
  case MessageKind::Question:
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
               ? MessageAnswer::Yes
               : MessageAnswer::No;
  case MessageKind::Warning:
    QMessageBox::warning(nullptr, title, text);
    return MessageAnswer::Ok;
  case MessageKind::Error:
    QMessageBox::critical(nullptr, title, text);
    return MessageAnswer::Ok;
  case MessageKind::Information:
    break;
  }
  QMessageBox::information(nullptr, title, text);
  return MessageAnswer::Ok;
}

std::mutex g_handlerMutex;
MessageHandler g_handler;

} // namespace

MessageAnswer ShowMessage(const MessageRequest &request) {
  MessageHandler handler;
  {
    std::lock_guard lock(g_handlerMutex);
    handler = g_handler;
  }
  return handler ? handler(request) : ShowWithQt(request);
}

void ShowInformation(const std::string &text) { ShowMessage({MessageKind::Information, "Framewell", text}); }

void ShowError(const std::string &text) { ShowMessage({MessageKind::Error, "Framewell", text}); }

void ShowLastResortError(const std::string &what) { ShowMessage({MessageKind::Error, "Framewell", what}); }

MessageHandler SetMessageHandler(MessageHandler handler) {
  std::lock_guard lock(g_handlerMutex);
  MessageHandler previous = std::move(g_handler);
  g_handler = std::move(handler);
  return previous;
}

} // namespace fw
