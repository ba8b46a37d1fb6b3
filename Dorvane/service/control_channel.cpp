#include "service/control_channel.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include "log/runtime_error.h"
#include "service/program.h"

namespace dorvane {
namespace {

constexpr int kClientTimeoutMs = 5000;
constexpr qint64 kMaxCommandBytes = 256;

}  // namespace

std::string ControlChannelName() {
  QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(ProgramFolder()),
                                               QCryptographicHash::Sha1);
  return "dorvane-" + digest.toHex().left(16).toStdString();
}

ControlServer::ControlServer(Handler handler, std::function<void(const std::string&)> after)
    : handler_(std::move(handler)), after_(std::move(after)) {}

ControlServer::~ControlServer() = default;

bool ControlServer::Start() {
  QString name = QString::fromStdString(ControlChannelName());
  QLocalServer::removeServer(name);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(server_.get(), &QLocalServer::newConnection, [this] { OnConnection(); });
  return server_->listen(name);
}

void ControlServer::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
      Guard("FRM:MAIN[Control_Command]", [&] {
        if (!socket->canReadLine()) {
          if (socket->bytesAvailable() > kMaxCommandBytes) socket->abort();
          return;
        }
        std::string command = socket->readLine(kMaxCommandBytes).trimmed().toStdString();
        socket->write(QByteArray::fromStdString(handler_(command)));
        socket->flush();
        socket->disconnectFromServer();
        if (after_) after_(command);
      });
    });
  }
}

bool SendControlCommand(const std::string& command, std::string* answer) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(ControlChannelName()));
  if (!socket.waitForConnected(kClientTimeoutMs)) return false;
  socket.write(QByteArray::fromStdString(command + "\n"));
  if (!socket.waitForBytesWritten(kClientTimeoutMs)) return false;
  QByteArray reply;
  while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(kClientTimeoutMs))
    reply += socket.readAll();
  reply += socket.readAll();
  *answer = reply.toStdString();
  return !reply.isEmpty();
}

}  // namespace dorvane
