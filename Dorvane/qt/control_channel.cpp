#include "qt/control_channel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <cstdio>

#include "base/program.h"
#include "base/runtime_error.h"
#include "log/guard.h"

namespace dorvane {
namespace {

constexpr int kClientTimeoutMs = 5000;
constexpr qint64 kMaxCommandBytes = 256;

// The uid at the other end of a connected local socket; -1 when unknown.
long PeerUid(const QLocalSocket& socket) {
  ucred cred {};
  socklen_t size = sizeof cred;
  int fd = static_cast<int>(socket.socketDescriptor());
  if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) return -1;
  return static_cast<long>(cred.uid);
}

bool PeerIsMe(const QLocalSocket& socket) { return PeerUid(socket) == static_cast<long>(::geteuid()); }

// Makes the channel's folder when it is missing and closes it to others
// when it is ours; true when it ends up private.
bool PreparePrivateFolder(const std::string& folder) {
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    return false;
  if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return false;
  return true;
}

}  // namespace

ControlServer::ControlServer(Handler handler, std::function<void(const std::string&)> after)
    : handler_(std::move(handler)), after_(std::move(after)) {}

ControlServer::~ControlServer() = default;

bool ControlServer::Start() {
  for (const std::string& path : ControlSocketPaths(QtSha1Hex)) {
    if (!PreparePrivateFolder(ControlSocketFolder(path))) continue;
    QString name = QString::fromStdString(path);
    QLocalServer::removeServer(name);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(server_.get(), &QLocalServer::newConnection, [this] { OnConnection(); });
    if (server_->listen(name)) return true;
  }
  server_.reset();
  return false;
}

void ControlServer::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!PeerIsMe(*socket)) {
      socket->abort();
      continue;
    }
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
  std::string foreign;
  ControlOutcome outcome = AskRunningRelay(command, kClientTimeoutMs, answer, &foreign, QtSha1Hex);
  if (outcome == ControlOutcome::Foreign)
    std::fprintf(stderr, "Dorvane: %s n'appartient pas \xC3\xA0 cet utilisateur, rien n'est envoy\xC3\xA9\n",
                 foreign.c_str());
  return outcome == ControlOutcome::Answered;
}

std::string QtSha1Hex(const std::string& bytes) {
  return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha1).toHex().toStdString();
}

}  // namespace dorvane
