#ifndef HTTPSERVER_H
#define HTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on the loopback interface for tests.
//
// It stands in for the download server as the process's web proxy: after
// becomeHttpProxy(), every plain-http request of the process (whatever its
// host) arrives here in proxy form, "GET http://host/path HTTP/1.1". It
// answers by the request's path; the host is recorded, not used to route.
// It can also be addressed directly as http://127.0.0.1:port().
//
// The server lives in the thread that creates it and works only while that
// thread runs its event loop (QTest's waits, QSignalSpy::wait, a message
// box's nested loop). Answers can misbehave on purpose: hang, stall in the
// middle of the body, close early, omit the Content-Length, announce a
// size other than the body's, trickle. Bodies are written in chunks as the
// socket drains, so large ones stream. Connections are kept alive between
// requests unless an answer ends by closing.
class HttpServer : public QObject
{
    Q_OBJECT

public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Request
    {
        QByteArray requestLine;  // e.g. "GET http://host/path?q=1 HTTP/1.1"
        QByteArray method;
        QByteArray target;       // as sent: absolute form through a proxy, else origin form
        QByteArray host;         // the absolute target's host (with port), else the Host header
        QByteArray path;         // the target's path, without the query
        QByteArray query;        // after "?", without it; empty when there is none
        QList<Header> headers;   // in the order sent

        // The first header called `name` (case-insensitive), or a null array.
        QByteArray header(const QByteArray &name) const;
    };

    struct Response
    {
        int status = 200;
        QByteArray reason;          // empty: the usual phrase for the status
        QList<Header> headers;      // sent after the status line, before Content-Length
        QByteArray body;

        bool sendContentLength = true;  // false: no length; the body ends with the connection
        qint64 announcedLength = -1;    // Content-Length to announce; -1: the body's size
        qint64 stallAfter = -1;   // stop after this many body bytes and keep the connection open
        qint64 closeAfter = -1;   // close the connection after this many body bytes
        bool hang = false;        // read the request and never answer
        int chunkSize = 64 * 1024;  // bytes per write while streaming the body
        int chunkIntervalMs = 0;    // > 0: one chunk per interval, a slow but steady server

        static Response ok(const QByteArray &body, const QByteArray &contentType = "text/plain");
        static Response notFound();
        // 401 with a Basic challenge: a client without credentials gives up.
        static Response unauthorized(const QByteArray &realm = "Tavoro downloads");
        // 301, 302, 307...: a Location header and a small HTML page.
        static Response redirect(int status, const QByteArray &location);
        static Response hanging();
    };

    explicit HttpServer(QObject *parent = nullptr);
    ~HttpServer() override;

    // Listens on 127.0.0.1 at a free port. False if that fails.
    bool listen();
    quint16 port() const;

    // "http://127.0.0.1:<port>"
    QByteArray address() const;

    // Makes this server the web proxy of the whole process: sets the
    // system's proxy setting (see systemproxy.h) and tells Qt to use the
    // system's proxy configuration, as the program's entry does. Call it
    // before the process's first request; requests to localhost itself
    // still bypass the proxy.
    void becomeHttpProxy() const;

    // The standing answer for `path` (no query). Paths without an answer get 404.
    void route(const QByteArray &path, const Response &response);

    // An answer for the next request of `path` only, ahead of the standing
    // one; several queued answers are used in order.
    void queue(const QByteArray &path, const Response &response);

    // Forgets answers and recorded requests and drops every connection.
    void reset();

    // Drops every open connection, hanging and stalled ones included; the
    // clients see the connection closed.
    void closeConnections();

    // Every request received since the last reset, in order of arrival.
    QList<Request> requests() const { return received; }
    int requestCount() const { return received.size(); }
    int requestCount(const QByteArray &path) const;

    // Runs the event loop until `count` requests have arrived in all.
    bool waitForRequests(int count, int timeoutMs = 5000);

    // Connections currently open from clients.
    int openConnectionCount() const { return connections.size(); }

signals:
    void requestReceived(const HttpServer::Request &request);

private:
    struct Connection;

    void accept();
    void readFrom(QTcpSocket *socket);
    void startAnswer(Connection &connection, const Response &response);
    void pump(QTcpSocket *socket);
    void schedulePump(Connection &connection);
    void drop(QTcpSocket *socket);
    Response answerFor(const QByteArray &path);

    QTcpServer *server;
    QHash<QByteArray, Response> routes;
    QHash<QByteArray, QList<Response>> queued;
    QList<Request> received;
    QHash<QTcpSocket *, Connection *> connections;
};

#endif // HTTPSERVER_H
