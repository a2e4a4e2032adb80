// Raw HTTP from the camera's side: a POST built byte by byte (chunked, without a length,
// with odd headers) and sent over loopback at a chosen pace, and the answer read back.
#include "camsim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <thread>

namespace camsim
{

std::optional<Url> parseUrl(const std::string &url)
{
    const std::string scheme = "http://";
    if (url.rfind(scheme, 0) != 0) {
        return std::nullopt;
    }
    std::string rest = url.substr(scheme.size());
    size_t slash = rest.find('/');
    std::string hostPort = rest.substr(0, slash);
    Url out;
    out.path = slash == std::string::npos ? "/" : rest.substr(slash);
    size_t colon = hostPort.rfind(':');
    out.host = hostPort.substr(0, colon);
    if (colon != std::string::npos) {
        std::string port = hostPort.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        out.port = std::stoi(port);
        if (out.port <= 0 || out.port > 65535) {
            return std::nullopt;
        }
    }
    if (out.host != "127.0.0.1" && out.host != "localhost") {
        return std::nullopt;
    }
    return out;
}

std::string buildHttpPost(const std::string &url, const std::string &body,
                          const HttpPostOptions &options)
{
    auto parsed = parseUrl(url);
    Url target = parsed ? *parsed : Url{"127.0.0.1", 80, "/"};
    std::ostringstream out;
    out << "POST " << target.path << " HTTP/1.1\r\n";
    out << "Host: " << target.host << ":" << target.port << "\r\n";
    out << "User-Agent: camsim\r\n";
    out << "Content-Type: " << options.contentType;
    if (!options.action.empty()) {
        out << "; action=\"" << options.action << "\"";
    }
    out << "\r\n";
    for (const auto &[name, value] : options.extraHeaders) {
        out << name << ": " << value << "\r\n";
    }
    if (options.chunked) {
        out << "Transfer-Encoding: chunked\r\n";
    } else if (!options.omitContentLength) {
        out << "Content-Length: "
            << (options.contentLength ? *options.contentLength : std::to_string(body.size()))
            << "\r\n";
    }
    out << "Connection: " << (options.connectionClose ? "close" : "keep-alive") << "\r\n\r\n";
    if (options.chunked) {
        size_t step = options.chunkSize ? options.chunkSize : body.size();
        for (size_t offset = 0; offset < body.size(); offset += step) {
            std::string part = body.substr(offset, step);
            out << std::hex << part.size() << std::dec << "\r\n" << part << "\r\n";
        }
        out << "0\r\n\r\n";
    } else {
        out << body;
    }
    return out.str();
}

namespace
{

using Clock = std::chrono::steady_clock;

class Fd
{
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Wait for `events` on fd, at most `wait` and not past `deadline`.
bool waitFor(int fd, short events, std::chrono::milliseconds wait, Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    auto timeout = std::min(wait, left);
    if (timeout.count() <= 0) {
        return false;
    }
    pollfd entry{fd, events, 0};
    int ready = 0;
    do {
        ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool responseComplete(const std::string &data)
{
    size_t headerEnd = data.find("\r\n\r\n");
    if (headerEnd == std::string::npos) {
        return false;
    }
    std::string headers = data.substr(0, headerEnd);
    for (char &c : headers) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::string lengthHeader = "\r\ncontent-length:";
    size_t lengthAt = headers.find(lengthHeader);
    if (lengthAt != std::string::npos) {
        size_t length = std::strtoul(headers.c_str() + lengthAt + lengthHeader.size(), nullptr, 10);
        return data.size() >= headerEnd + 4 + length;
    }
    if (headers.find("chunked") != std::string::npos) {
        return data.size() >= 5 && data.compare(data.size() - 5, 5, "0\r\n\r\n") == 0;
    }
    return false; // read until the peer closes
}

} // namespace

namespace
{

// Connects fd to 127.0.0.1:port within the connect time-out; "" or why it failed.
std::string connectLoopback(int fd, int port, const SendOptions &options,
                            Clock::time_point deadline)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        return {};
    }
    if (errno != EINPROGRESS) {
        return std::string("connect: ") + std::strerror(errno);
    }
    if (!waitFor(fd, POLLOUT, options.connectTimeout, deadline)) {
        return "connect: timed out";
    }
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        return std::string("connect: ") + std::strerror(error);
    }
    return {};
}

// Sends bytes [result.bytesSent, chunkEnd); sets result.error on failure.
void sendChunk(int fd, const std::string &bytes, size_t chunkEnd, const SendOptions &options,
               Clock::time_point deadline, SendResult &result)
{
    while (result.bytesSent < chunkEnd) {
        if (!waitFor(fd, POLLOUT, options.ioTimeout, deadline)) {
            result.error = "send: timed out";
            return;
        }
        ssize_t sent =
            ::send(fd, bytes.data() + result.bytesSent, chunkEnd - result.bytesSent, MSG_NOSIGNAL);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (sent <= 0) {
            result.error = std::string("send: ") + std::strerror(errno);
            return;
        }
        result.bytesSent += static_cast<size_t>(sent);
    }
}

// Sends the first `limit` bytes in chunks, pausing after each; sets result.error on failure.
void sendBytes(int fd, const std::string &bytes, size_t limit, const SendOptions &options,
               Clock::time_point deadline, SendResult &result)
{
    const size_t step = options.chunkSize ? options.chunkSize : limit;
    while (result.bytesSent < limit) {
        sendChunk(fd, bytes, std::min(limit, result.bytesSent + step), options, deadline, result);
        if (!result.error.empty()) {
            return;
        }
        if (options.delayPerChunk.count() > 0 && result.bytesSent < limit) {
            if (Clock::now() + options.delayPerChunk > deadline) {
                result.error = "send: maximum duration reached";
                return;
            }
            std::this_thread::sleep_for(options.delayPerChunk);
        }
    }
}

// Reads the answer until it is complete, the peer closes or time runs out; sets its status.
void readAnswer(int fd, const SendOptions &options, Clock::time_point deadline, SendResult &result)
{
    char buffer[4096];
    while (!responseComplete(result.response) && waitFor(fd, POLLIN, options.ioTimeout, deadline)) {
        ssize_t received = ::recv(fd, buffer, sizeof buffer, 0);
        if (received < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (received <= 0) {
            break;
        }
        result.response.append(buffer, static_cast<size_t>(received));
    }
    if (result.response.rfind("HTTP/1.", 0) == 0 && result.response.size() >= 12) {
        result.status = std::atoi(result.response.c_str() + 9);
    }
}

} // namespace

SendResult sendRaw(const std::string &url, const std::string &bytes, const SendOptions &options)
{
    SendResult result;
    std::optional<Url> target = parseUrl(url);
    if (!target) {
        result.error = "not a local http URL: " + url;
        return result;
    }
    const auto deadline = Clock::now() + options.maxDuration;
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) {
        result.error = std::string("socket: ") + std::strerror(errno);
        return result;
    }
    result.error = connectLoopback(fd.get(), target->port, options, deadline);
    if (!result.error.empty()) {
        return result;
    }
    result.connected = true;

    const bool closeEarly = options.closeAfter && options.closeAfter < bytes.size();
    sendBytes(fd.get(), bytes, closeEarly ? options.closeAfter : bytes.size(), options, deadline,
              result);
    result.sent = result.error.empty() && result.bytesSent == bytes.size();
    if (closeEarly) {
        return result; // hang up early without reading
    }
    if (options.shutdownWrite) {
        ::shutdown(fd.get(), SHUT_WR);
    }
    if (options.readResponse) {
        readAnswer(fd.get(), options, deadline, result);
    }
    return result;
}

} // namespace camsim
