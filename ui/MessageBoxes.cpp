#include "ui/MessageBoxes.h"

#include <QMessageBox>
#include <QString>

#include <mutex>

namespace fw {
namespace {

MessageAnswer ShowWithQt(const MessageRequest &request) {
  const QString title = QString::fromLatin1(request.title.c_str());
  const QString text = QString::fromLatin1(request.text.c_str());
  QWidget *parent = request.parent;
  switch (request.kind) {
  case MessageKind::OkCancel:
    return QMessageBox::warning(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) ==
                   QMessageBox::Ok
               ? MessageAnswer::Ok
               : MessageAnswer::Cancel;
  case MessageKind::Question:
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
               ? MessageAnswer::Yes
               : MessageAnswer::No;
  case MessageKind::Warning:
    QMessageBox::warning(parent, title, text);
    return MessageAnswer::Ok;
  case MessageKind::Error:
    QMessageBox::critical(parent, title, text);
    return MessageAnswer::Ok;
  case MessageKind::Information:
    break;
  }
  QMessageBox::information(parent, title, text);
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

void ShowInformation(const std::string &text, QWidget *parent) {
  ShowMessage({MessageKind::Information, "Framewell", text, parent});
}

void ShowError(const std::string &text, QWidget *parent) {
  ShowMessage({MessageKind::Error, "Framewell", text, parent});
}

bool ConfirmOkCancel(QWidget *parent, const std::string &title, const std::string &text) {
  return ShowMessage({MessageKind::OkCancel, title, text, parent}) == MessageAnswer::Ok;
}

void ShowLastResortError(const std::string &what) { ShowMessage({MessageKind::Error, "Framewell", what}); }

MessageHandler SetMessageHandler(MessageHandler handler) {
  std::lock_guard lock(g_handlerMutex);
  MessageHandler previous = std::move(g_handler);
  g_handler = std::move(handler);
  return previous;
}

} // namespace fw
