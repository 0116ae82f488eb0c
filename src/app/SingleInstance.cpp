#include "app/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <cstdlib>
#include <optional>

#include "app/PeerUser.h"
#include "system/DataDirectory.h"
#include "system/PrivateFolder.h"

namespace tovak::app {

namespace {

constexpr int kAnswerMilliseconds = 500;

// TOVAK_INSTANCE_NAME keeps test runs apart from a real one; only a plain name is taken.
QString socketName() {
    const QString name = qEnvironmentVariable("TOVAK_INSTANCE_NAME");
    return name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))
               ? QStringLiteral("org.tovak.Tovak")
               : name;
}

}  // namespace

QString SingleInstance::socketPath() {
    using system::PrivateFolder;
    std::optional<PrivateFolder> folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        folder = PrivateFolder::open(runtime, PrivateFolder::Kind::existing);
    }
    // A shell without a logind session has no runtime folder, and one that is not the user's
    // alone is no place to look for Tovak.
    if (const std::string cache = system::cacheFolder(); !folder && !cache.empty()) {
        folder = PrivateFolder::open(cache, PrivateFolder::Kind::own);
    }
    return folder ? QString::fromStdString(folder->path()) + QLatin1Char('/') + socketName() : QString();
}

bool SingleInstance::askToShow() {
    const QString path = socketPath();
    if (path.isEmpty()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(kAnswerMilliseconds) || !peerIsThisUser(static_cast<int>(socket.socketDescriptor()))) {
        return false;
    }
    socket.write("show\n");
    socket.waitForBytesWritten(kAnswerMilliseconds);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen(std::function<void()> onShow) {
    const QString path = socketPath();
    if (path.isEmpty()) {
        return true;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        // A server left behind by a crashed instance answers nobody: take its name over.
        if (askToShow()) {
            return false;
        }
        QLocalServer::removeServer(path);
        if (!server_->listen(path)) {
            return true;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, [this, onShow = std::move(onShow)] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            if (!peerIsThisUser(static_cast<int>(socket->socketDescriptor()))) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            onShow();
        }
    });
    return true;
}

}  // namespace tovak::app
