#include "qt/control_channel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/program.h"
#include "base/runtime_error.h"
#include "log/guard.h"

namespace dorvane {
namespace {

constexpr int kClientTimeoutMs = 5000;
constexpr qint64 kMaxCommandBytes = 256;

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

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

// Sends the command on a connected socket and reads the answer to its end.
bool Exchange(QLocalSocket& socket, const std::string& command, std::string* answer) {
  socket.write(QByteArray::fromStdString(command + "\n"));
  if (!socket.waitForBytesWritten(kClientTimeoutMs)) return false;
  QByteArray reply;
  while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(kClientTimeoutMs))
    reply += socket.readAll();
  reply += socket.readAll();
  *answer = reply.toStdString();
  return !reply.isEmpty();
}

}  // namespace

std::string ControlChannelName() {
  QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(ProgramFolder()),
                                               QCryptographicHash::Sha1);
  return "dorvane-" + digest.toHex().left(16).toStdString();
}

bool IsPrivateFolder(const std::string& folder) {
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

std::vector<std::string> ControlSocketPaths() {
  std::vector<std::string> paths;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && IsPrivateFolder(runtime))
    paths.push_back(std::string(runtime) + "/" + ControlChannelName());
  paths.push_back(ProgramPath("run/") + ControlChannelName());
  // A socket path is short (108 bytes): for a deep program folder, a
  // folder of this user's own in the temporary folder, used only if it is
  // really theirs.
  std::error_code ec;
  std::string temp = std::filesystem::temp_directory_path(ec).string();
  if (!ec) paths.push_back(temp + "/dorvane-" + std::to_string(::geteuid()) + "/" + ControlChannelName());
  return paths;
}

ControlServer::ControlServer(Handler handler, std::function<void(const std::string&)> after)
    : handler_(std::move(handler)), after_(std::move(after)) {}

ControlServer::~ControlServer() = default;

bool ControlServer::Start() {
  for (const std::string& path : ControlSocketPaths()) {
    if (!PreparePrivateFolder(FolderOf(path))) continue;
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
  for (const std::string& path : ControlSocketPaths()) {
    if (!IsPrivateFolder(FolderOf(path))) continue;
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(path));
    if (!socket.waitForConnected(kClientTimeoutMs)) continue;
    if (!PeerIsMe(socket)) {
      std::fprintf(stderr, "Dorvane: %s n'appartient pas \xC3\xA0 cet utilisateur, rien n'est envoy\xC3\xA9\n",
                   path.c_str());
      return false;
    }
    return Exchange(socket, command, answer);
  }
  return false;
}

}  // namespace dorvane
