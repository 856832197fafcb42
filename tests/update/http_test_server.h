// A small HTTP (or HTTPS) server for the tests of the version check and the download: it listens
// on a free port of 127.0.0.1 and answers each request from a table of paths, on the thread's
// event loop (the code under test runs one while it waits, so the server answers meanwhile).
#ifndef TOMEVA_TESTS_UPDATE_HTTP_TEST_SERVER_H_
#define TOMEVA_TESTS_UPDATE_HTTP_TEST_SERVER_H_

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QSslConfiguration>
#include <QSslServer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace tomeva::testing {

class HttpTestServer : public QObject {
 public:
  struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray content_type = "application/octet-stream";
    QByteArray location;  // for a redirect
    bool silent = false;  // accepts the request and never answers
    int trickle_ms = 0;   // sends the body one byte at a time, this far apart
    bool no_length = false;          // no Content-Length: the end of the connection ends it
    qint64 declared_length = -1;     // a Content-Length other than the body's, then silence

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
    static Reply Trickle(const QByteArray& body, int ms) {
      Reply r = Body(200, body);
      r.trickle_ms = ms;
      return r;
    }
    static Reply Unsized(const QByteArray& body) {
      Reply r = Body(200, body);
      r.no_length = true;
      return r;
    }
    static Reply Announced(qint64 length, const QByteArray& start) {
      Reply r = Body(200, start);
      r.declared_length = length;
      return r;
    }
  };

  // An http server; with `tls`, an https one presenting that configuration's certificate.
  explicit HttpTestServer(const QSslConfiguration* tls = nullptr) {
    if (tls != nullptr) {
      server_.setSslConfiguration(*tls);
      scheme_ = QStringLiteral("https");
    } else {
      plain_ = true;
      plain_server_.listen(QHostAddress::LocalHost, 0);
      QObject::connect(&plain_server_, &QTcpServer::newConnection, this, [this] { Accept(); });
      return;
    }
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, this,
                     [this] { Accept(); });
  }

  bool listening() const { return plain_ ? plain_server_.isListening() : server_.isListening(); }
  quint16 port() const { return plain_ ? plain_server_.serverPort() : server_.serverPort(); }
  QString Url(const QString& path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme_).arg(port()).arg(path);
  }
  void Set(const QByteArray& path, const Reply& reply) { replies_[path] = reply; }
  // The paths asked for, in order.
  const QStringList& requests() const { return requests_; }

 private:
  void Accept() {
    QTcpServer& server = plain_ ? plain_server_ : static_cast<QTcpServer&>(server_);
    while (QTcpSocket* socket = server.nextPendingConnection()) {
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
    if (reply.declared_length >= 0) {
      head += "Content-Length: " + QByteArray::number(reply.declared_length) + "\r\n";
    } else if (!reply.no_length) {
      head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    }
    if (!reply.location.isEmpty()) head += "Location: " + reply.location + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (reply.trickle_ms > 0) {
      socket->write(head);
      auto* timer = new QTimer(socket);
      auto sent = std::make_shared<qsizetype>(0);
      QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body = reply.body] {
        if (*sent >= body.size()) {
          timer->stop();
          socket->disconnectFromHost();
          return;
        }
        socket->write(body.mid((*sent)++, 1));
      });
      timer->start(reply.trickle_ms);
      return;
    }
    socket->write(head + reply.body);
    // An announced length the body does not reach: the connection stays open, saying nothing.
    if (reply.declared_length < 0) socket->disconnectFromHost();
  }

  QSslServer server_;
  QTcpServer plain_server_;
  bool plain_ = false;
  QString scheme_ = QStringLiteral("http");
  QMap<QByteArray, Reply> replies_;
  QMap<QTcpSocket*, QByteArray> pending_;
  QStringList requests_;
};

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_UPDATE_HTTP_TEST_SERVER_H_
