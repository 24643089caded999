#include "httpserver.h"

#include "systemproxy.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QNetworkProxyFactory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// Fills in target, host, path and query from the request line and headers.
void parseTarget(HttpServer::Request &request)
{
    QByteArray rest = request.target;
    const QByteArray absolutePrefix = "http://";
    if (rest.startsWith(absolutePrefix)) {
        rest = rest.mid(absolutePrefix.size());
        int end = rest.indexOf('/');
        const int query = rest.indexOf('?');
        if (end < 0 || (query >= 0 && query < end))
            end = query;
        request.host = end < 0 ? rest : rest.left(end);
        rest = end < 0 ? QByteArray("/") : rest.mid(end);
        if (rest.startsWith('?'))
            rest.prepend('/');
    } else {
        request.host = request.header("Host");
    }
    const int query = rest.indexOf('?');
    request.path = query < 0 ? rest : rest.left(query);
    request.query = query < 0 ? QByteArray() : rest.mid(query + 1);
}

} // namespace

// One client connection: the bytes not yet parsed and the answer being sent.
struct HttpServer::Connection
{
    enum class End { KeepAlive, Close, Stall, Hang };

    QTcpSocket *socket = nullptr;
    QByteArray input;
    bool answering = false;  // requests that arrive meanwhile wait in `input`
    Response response;
    qint64 bodySent = 0;
    qint64 bodyLimit = 0;    // body bytes to send before the answer ends
    QDeadlineTimer nextChunk;  // a paced answer writes its next chunk then
    bool pumpScheduled = false;
    End end = End::KeepAlive;
};

QByteArray HttpServer::Request::header(const QByteArray &name) const
{
    for (const Header &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

HttpServer::Response HttpServer::Response::ok(const QByteArray &body, const QByteArray &contentType)
{
    Response response;
    response.headers.append(Header("Content-Type", contentType));
    response.body = body;
    return response;
}

HttpServer::Response HttpServer::Response::notFound()
{
    Response response;
    response.status = 404;
    response.headers.append(Header("Content-Type", "text/html"));
    response.body = "<html><body><h1>404 Not Found</h1></body></html>\n";
    return response;
}

HttpServer::Response HttpServer::Response::unauthorized(const QByteArray &realm)
{
    Response response;
    response.status = 401;
    response.headers.append(Header("WWW-Authenticate", "Basic realm=\"" + realm + "\""));
    response.headers.append(Header("Content-Type", "text/html"));
    response.body = "<html><body><h1>401 Unauthorized</h1></body></html>\n";
    return response;
}

HttpServer::Response HttpServer::Response::redirect(int status, const QByteArray &location)
{
    Response response;
    response.status = status;
    response.headers.append(Header("Location", location));
    response.headers.append(Header("Content-Type", "text/html"));
    response.body = "<html><body><a href=\"" + location + "\">Moved</a></body></html>\n";
    return response;
}

HttpServer::Response HttpServer::Response::hanging()
{
    Response response;
    response.hang = true;
    return response;
}

HttpServer::HttpServer(QObject *parent)
    : QObject(parent)
    , server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &HttpServer::accept);
}

HttpServer::~HttpServer()
{
    closeConnections();
}

bool HttpServer::listen()
{
    return server->listen(QHostAddress::LocalHost, 0);
}

quint16 HttpServer::port() const
{
    return server->serverPort();
}

QByteArray HttpServer::address() const
{
    return "http://127.0.0.1:" + QByteArray::number(port());
}

void HttpServer::becomeHttpProxy() const
{
    SystemProxy::setHttpProxy("127.0.0.1:" + QByteArray::number(port()));
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

void HttpServer::route(const QByteArray &path, const Response &response)
{
    routes.insert(path, response);
}

void HttpServer::queue(const QByteArray &path, const Response &response)
{
    queued[path].append(response);
}

void HttpServer::reset()
{
    closeConnections();
    routes.clear();
    queued.clear();
    received.clear();
}

void HttpServer::closeConnections()
{
    const QList<QTcpSocket *> sockets = connections.keys();
    for (QTcpSocket *socket : sockets)
        socket->abort();
    // abort() reports the disconnection synchronously only when the socket
    // was connected; drop whatever is left.
    for (QTcpSocket *socket : connections.keys())
        drop(socket);
}

int HttpServer::requestCount(const QByteArray &path) const
{
    int count = 0;
    for (const Request &request : received) {
        if (request.path == path)
            ++count;
    }
    return count;
}

bool HttpServer::waitForRequests(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (received.size() < count && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return received.size() >= count;
}

void HttpServer::accept()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        auto *connection = new Connection;
        connection->socket = socket;
        connections.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { pump(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
    }
}

void HttpServer::drop(QTcpSocket *socket)
{
    Connection *connection = connections.take(socket);
    if (!connection)
        return;
    delete connection;
    socket->disconnect(this);
    socket->deleteLater();
}

// Parses and answers the requests that have arrived whole, one at a time.
void HttpServer::readFrom(QTcpSocket *socket)
{
    Connection *connection = connections.value(socket);
    if (!connection)
        return;
    connection->input.append(socket->readAll());

    while (!connection->answering) {
        const int headEnd = connection->input.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;

        Request request;
        const QList<QByteArray> lines = connection->input.left(headEnd).split('\n');
        request.requestLine = lines.value(0).trimmed();
        const QList<QByteArray> parts = request.requestLine.split(' ');
        request.method = parts.value(0);
        request.target = parts.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append(Header(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
        }

        // A request body, if any, is read and ignored.
        const int requestLength = headEnd + 4 + request.header("Content-Length").toInt();
        if (connection->input.size() < requestLength)
            return;
        connection->input.remove(0, requestLength);

        parseTarget(request);
        received.append(request);
        emit requestReceived(request);
        // A receiver may have reset the server.
        if (!connections.contains(socket))
            return;
        startAnswer(*connection, answerFor(request.path));
    }
}

HttpServer::Response HttpServer::answerFor(const QByteArray &path)
{
    QList<Response> &waiting = queued[path];
    if (!waiting.isEmpty())
        return waiting.takeFirst();
    return routes.value(path, Response::notFound());
}

void HttpServer::startAnswer(Connection &connection, const Response &response)
{
    connection.answering = true;
    connection.response = response;
    connection.bodySent = 0;
    connection.nextChunk = QDeadlineTimer(0);
    if (response.hang) {
        connection.end = Connection::End::Hang;
        return;
    }

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
                      + (response.reason.isEmpty() ? reasonFor(response.status) : response.reason)
                      + "\r\n";
    for (const Header &header : response.headers)
        head += header.first + ": " + header.second + "\r\n";
    if (response.sendContentLength) {
        const qint64 length = response.announcedLength >= 0 ? response.announcedLength
                                                            : response.body.size();
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    } else {
        head += "Connection: close\r\n";
    }
    head += "\r\n";

    connection.bodyLimit = response.body.size();
    connection.end = response.sendContentLength ? Connection::End::KeepAlive : Connection::End::Close;
    if (response.closeAfter >= 0) {
        connection.bodyLimit = qMin(connection.bodyLimit, response.closeAfter);
        connection.end = Connection::End::Close;
    }
    if (response.stallAfter >= 0) {
        connection.bodyLimit = qMin(connection.bodyLimit, response.stallAfter);
        connection.end = Connection::End::Stall;
    }

    connection.socket->write(head);
    pump(connection.socket);
}

// Wakes a paced answer when its next chunk is due.
void HttpServer::schedulePump(Connection &connection)
{
    if (connection.pumpScheduled)
        return;
    connection.pumpScheduled = true;
    QTcpSocket *socket = connection.socket;
    const qint64 wait = qMax<qint64>(1, connection.nextChunk.remainingTime());
    QTimer::singleShot(int(wait), this, [this, socket] {
        if (Connection *due = connections.value(socket)) {
            due->pumpScheduled = false;
            pump(socket);
        }
    });
}

// Writes the next chunks of the body while the socket's buffer is low and
// ends the answer once the body (or its allowed part) is written.
void HttpServer::pump(QTcpSocket *socket)
{
    Connection *connection = connections.value(socket);
    if (!connection || !connection->answering)
        return;
    const Response &response = connection->response;
    const int chunk = qMax(1, response.chunkSize);

    const bool paced = response.chunkIntervalMs > 0;
    while (connection->bodySent < connection->bodyLimit && socket->bytesToWrite() < chunk) {
        if (paced && !connection->nextChunk.hasExpired()) {
            schedulePump(*connection);
            return;
        }
        const qint64 size = qMin<qint64>(chunk, connection->bodyLimit - connection->bodySent);
        socket->write(response.body.constData() + connection->bodySent, size);
        connection->bodySent += size;
        if (paced)
            connection->nextChunk.setRemainingTime(response.chunkIntervalMs);
    }
    if (connection->bodySent < connection->bodyLimit)
        return;

    switch (connection->end) {
    case Connection::End::KeepAlive:
        connection->answering = false;
        // Requests that came in meanwhile; the socket may not signal them again.
        if (!connection->input.isEmpty())
            QMetaObject::invokeMethod(this, [this, socket] { readFrom(socket); }, Qt::QueuedConnection);
        break;
    case Connection::End::Close:
        // Sends what is still buffered, then closes.
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->disconnectFromHost();
        break;
    case Connection::End::Stall:
    case Connection::End::Hang:
        break;
    }
}
