// A small HTTP server for the tests of the version check and the download: it listens on a free
// port of 127.0.0.1 and answers each request from a table of paths, on the thread's event loop
// (the code under test runs one while it waits, so the server answers meanwhile).
#ifndef TOMEVA_TESTS_UPDATE_HTTP_TEST_SERVER_H_
#define TOMEVA_TESTS_UPDATE_HTTP_TEST_SERVER_H_

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

namespace tomeva::testing {

class HttpTestServer : public QObject {
 public:
  struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray content_type = "application/octet-stream";
    QByteArray location;  // for a redirect
    bool silent = false;  // accepts the request and never answers

    static Reply Body(int status, const QByteArray& body,
                      const QByteArray& type = "application/octet-stream") {
      Reply r;
      r.status = status;
      r.body = body;
      r.content_type = type;
      return r;
    }
    static Reply Redirect(const QByteArray& location) {
      Reply r;
      r.status = 302;
      r.location = location;
      return r;
    }
    static Reply Silent() {
      Reply r;
      r.silent = true;
      return r;
    }
  };

  HttpTestServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { Accept(); });
  }

  bool listening() const { return server_.isListening(); }
  quint16 port() const { return server_.serverPort(); }
  QString Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
  }
  void Set(const QByteArray& path, const Reply& reply) { replies_[path] = reply; }
  // The paths asked for, in order.
  const QStringList& requests() const { return requests_; }

 private:
  void Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      socket->setParent(this);
      QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Serve(socket); });
    }
  }

  void Serve(QTcpSocket* socket) {
    QByteArray& buffer = pending_[socket];
    buffer += socket->readAll();
    if (!buffer.contains("\r\n\r\n")) return;
    const QList<QByteArray> words = buffer.left(buffer.indexOf("\r\n")).split(' ');
    buffer.clear();
    const QByteArray path = words.size() > 1 ? words[1] : QByteArray("/");
    requests_.append(QString::fromLatin1(path));
    auto it = replies_.find(path);
    const Reply reply = it != replies_.end() ? *it : Reply::Body(404, "not here", "text/plain");
    if (reply.silent) return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + " X\r\n";
    head += "Content-Type: " + reply.content_type + "\r\n";
    head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    if (!reply.location.isEmpty()) head += "Location: " + reply.location + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head + reply.body);
    socket->disconnectFromHost();
  }

  QTcpServer server_;
  QMap<QByteArray, Reply> replies_;
  QMap<QTcpSocket*, QByteArray> pending_;
  QStringList requests_;
};

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_UPDATE_HTTP_TEST_SERVER_H_
