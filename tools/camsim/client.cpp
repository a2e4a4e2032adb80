// Client side of the simulator: raw HTTP sending, Notify building, corpus loading and the
// WS-Security helpers.
#include "camsim.h"
#include "xml_text.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace camsim
{

using detail::escapeXml;

std::optional<Url> parseUrl(const std::string &url)
{
    const std::string scheme = "http://";
    if (url.rfind(scheme, 0) != 0)
        return std::nullopt;
    std::string rest = url.substr(scheme.size());
    size_t slash = rest.find('/');
    std::string hostPort = rest.substr(0, slash);
    Url out;
    out.path = slash == std::string::npos ? "/" : rest.substr(slash);
    size_t colon = hostPort.rfind(':');
    out.host = hostPort.substr(0, colon);
    if (colon != std::string::npos) {
        std::string p = hostPort.substr(colon + 1);
        if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        out.port = std::stoi(p);
        if (out.port <= 0 || out.port > 65535)
            return std::nullopt;
    }
    if (out.host != "127.0.0.1" && out.host != "localhost")
        return std::nullopt;
    return out;
}

std::string buildHttpPost(const std::string &url, const std::string &body,
                          const HttpPostOptions &options)
{
    auto parsed = parseUrl(url);
    Url u = parsed ? *parsed : Url{"127.0.0.1", 80, "/"};
    std::ostringstream out;
    out << "POST " << u.path << " HTTP/1.1\r\n";
    out << "Host: " << u.host << ":" << u.port << "\r\n";
    out << "User-Agent: camsim\r\n";
    out << "Content-Type: " << options.contentType;
    if (!options.action.empty())
        out << "; action=\"" << options.action << "\"";
    out << "\r\n";
    for (const auto &[name, value] : options.extraHeaders)
        out << name << ": " << value << "\r\n";
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
        for (size_t i = 0; i < body.size(); i += step) {
            std::string part = body.substr(i, step);
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
        if (fd_ >= 0)
            ::close(fd_);
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
    auto ms = std::min(wait, left);
    if (ms.count() <= 0)
        return false;
    pollfd p{fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, static_cast<int>(ms.count()));
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

bool responseComplete(const std::string &data)
{
    size_t headerEnd = data.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return false;
    std::string headers = data.substr(0, headerEnd);
    for (auto &c : headers)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t cl = headers.find("\r\ncontent-length:");
    if (cl != std::string::npos) {
        size_t len = std::strtoul(headers.c_str() + cl + 17, nullptr, 10);
        return data.size() >= headerEnd + 4 + len;
    }
    if (headers.find("chunked") != std::string::npos)
        return data.size() >= 5 && data.compare(data.size() - 5, 5, "0\r\n\r\n") == 0;
    return false; // read until the peer closes
}

} // namespace

SendResult sendRaw(const std::string &url, const std::string &bytes, const SendOptions &options)
{
    SendResult result;
    auto u = parseUrl(url);
    if (!u) {
        result.error = "not a local http URL: " + url;
        return result;
    }
    const auto deadline = Clock::now() + options.maxDuration;
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) {
        result.error = std::string("socket: ") + std::strerror(errno);
        return result;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(u->port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) {
            result.error = std::string("connect: ") + std::strerror(errno);
            return result;
        }
        if (!waitFor(fd.get(), POLLOUT, options.connectTimeout, deadline)) {
            result.error = "connect: timed out";
            return result;
        }
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            result.error = std::string("connect: ") + std::strerror(err);
            return result;
        }
    }
    result.connected = true;

    const size_t limit =
        options.closeAfter && options.closeAfter < bytes.size() ? options.closeAfter : bytes.size();
    const size_t step = options.chunkSize ? options.chunkSize : limit;
    while (result.bytesSent < limit) {
        size_t chunkEnd = std::min(limit, result.bytesSent + step);
        while (result.bytesSent < chunkEnd) {
            if (!waitFor(fd.get(), POLLOUT, options.ioTimeout, deadline)) {
                result.error = "send: timed out";
                break;
            }
            ssize_t n = ::send(fd.get(), bytes.data() + result.bytesSent,
                               chunkEnd - result.bytesSent, MSG_NOSIGNAL);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0) {
                result.error = std::string("send: ") + std::strerror(errno);
                break;
            }
            result.bytesSent += static_cast<size_t>(n);
        }
        if (!result.error.empty())
            break;
        if (options.delayPerChunk.count() > 0 && result.bytesSent < limit) {
            if (Clock::now() + options.delayPerChunk > deadline) {
                result.error = "send: maximum duration reached";
                break;
            }
            std::this_thread::sleep_for(options.delayPerChunk);
        }
    }
    result.sent = result.error.empty() && result.bytesSent == bytes.size();
    if (options.closeAfter && options.closeAfter < bytes.size())
        return result; // hang up early without reading
    if (options.shutdownWrite)
        ::shutdown(fd.get(), SHUT_WR);
    if (!options.readResponse)
        return result;

    char buf[4096];
    while (!responseComplete(result.response) &&
           waitFor(fd.get(), POLLIN, options.ioTimeout, deadline)) {
        ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        result.response.append(buf, static_cast<size_t>(n));
    }
    if (result.response.rfind("HTTP/1.", 0) == 0 && result.response.size() >= 12)
        result.status = std::atoi(result.response.c_str() + 9);
    return result;
}

std::string makeNotificationMessage(const std::string &topic, const std::string &messageXml,
                                    const std::string &dialect)
{
    return "<wsnt:NotificationMessage><wsnt:Topic Dialect=\"" + escapeXml(dialect) + "\">" +
           escapeXml(topic) + "</wsnt:Topic><wsnt:Message>" + messageXml +
           "</wsnt:Message></wsnt:NotificationMessage>";
}

std::string makeSimpleMessage(const std::string &utcTime, const std::string &propertyOperation,
                              const std::string &sourceName, const std::string &sourceValue,
                              const std::string &dataName, const std::string &dataValue)
{
    return "<tt:Message UtcTime=\"" + escapeXml(utcTime) + "\" PropertyOperation=\"" +
           escapeXml(propertyOperation) + "\"><tt:Source><tt:SimpleItem Name=\"" +
           escapeXml(sourceName) + "\" Value=\"" + escapeXml(sourceValue) +
           "\"/></tt:Source><tt:Data><tt:SimpleItem Name=\"" + escapeXml(dataName) + "\" Value=\"" +
           escapeXml(dataValue) + "\"/></tt:Data></tt:Message>";
}

namespace
{
std::string randomUuid()
{
    static thread_local std::mt19937_64 gen{std::random_device{}()};
    uint64_t a = gen(), b = gen();
    char buf[64];
    std::snprintf(buf, sizeof buf, "urn:uuid:%08x-%04x-4%03x-%04x-%012llx",
                  static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xffff),
                  static_cast<unsigned>(a & 0xfff),
                  static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3fff)),
                  static_cast<unsigned long long>(b & 0xffffffffffffULL));
    return buf;
}
} // namespace

std::string buildNotifyEnvelope(const std::vector<std::string> &notificationMessages,
                                const std::string &to)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += std::string("<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"") + ns::kSoapEnv + "\" xmlns:wsa5=\"" +
           ns::kWsa5 + "\" xmlns:wsa=\"" + ns::kWsa5 + "\" xmlns:wsnt=\"" + ns::kWsnt +
           "\" xmlns:tev=\"" + ns::kTev + "\" xmlns:wstop=\"" + ns::kWstop + "\" xmlns:tt=\"" +
           ns::kTt + "\" xmlns:tns1=\"" + ns::kTns1 + "\">";
    out += "<SOAP-ENV:Header><wsa5:Action SOAP-ENV:mustUnderstand=\"true\">";
    out += ns::kNotifyAction;
    out += "</wsa5:Action><wsa5:To SOAP-ENV:mustUnderstand=\"true\">" + escapeXml(to) +
           "</wsa5:To><wsa5:MessageID>" + randomUuid() + "</wsa5:MessageID></SOAP-ENV:Header>";
    out += "<SOAP-ENV:Body><wsnt:Notify>";
    for (const auto &m : notificationMessages)
        out += m;
    out += "</wsnt:Notify></SOAP-ENV:Body></SOAP-ENV:Envelope>\n";
    return out;
}

SendResult pushNotify(const std::string &url, const std::vector<std::string> &messages,
                      const SendOptions &options)
{
    return sendRaw(url, buildHttpPost(url, buildNotifyEnvelope(messages, url)), options);
}

std::vector<std::string> extractNotificationMessages(const std::string &xml)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (auto span = detail::findElement(xml, "NotificationMessage", pos)) {
        out.push_back(xml.substr(span->begin, span->end - span->begin));
        pos = span->end;
    }
    return out;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("camsim: cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> loadNotificationMessages(const std::string &path,
                                                  const std::string &topicIfBare)
{
    std::string text = readFile(path);
    auto messages = extractNotificationMessages(text);
    if (!messages.empty())
        return messages;
    auto inner = detail::findElement(text, "Message", 0);
    if (!inner)
        throw std::runtime_error("camsim: no NotificationMessage or Message element in " + path);
    return {
        makeNotificationMessage(topicIfBare, text.substr(inner->begin, inner->end - inner->begin))};
}

std::string base64Encode(const std::string &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                            reinterpret_cast<const unsigned char *>(bytes.data()),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::optional<std::string> base64Decode(const std::string &text)
{
    std::string in;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            in += c;
    if (in.size() % 4 != 0)
        return std::nullopt;
    std::string out(in.size() / 4 * 3 + 1, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                            reinterpret_cast<const unsigned char *>(in.data()),
                            static_cast<int>(in.size()));
    if (n < 0)
        return std::nullopt;
    size_t pad = 0;
    if (!in.empty() && in.back() == '=')
        pad = (in.size() >= 2 && in[in.size() - 2] == '=') ? 2 : 1;
    out.resize(static_cast<size_t>(n) - pad);
    return out;
}

std::string passwordDigest(const std::string &nonceBytes, const std::string &created,
                           const std::string &password)
{
    std::string input = nonceBytes + created + password;
    unsigned char md[SHA_DIGEST_LENGTH];
    unsigned int len = 0;
    EVP_Digest(input.data(), input.size(), md, &len, EVP_sha1(), nullptr);
    return base64Encode(std::string(reinterpret_cast<char *>(md), len));
}

std::string securityHeader(const std::string &user, const std::string &password,
                           const std::string &nonceBytes, const std::string &created)
{
    return std::string("<wsse:Security xmlns:wsse=\"") + ns::kWsse + "\" xmlns:wsu=\"" + ns::kWsu +
           "\"><wsse:UsernameToken><wsse:Username>" + escapeXml(user) +
           "</wsse:Username><wsse:Password Type=\"" + ns::kPasswordDigest + "\">" +
           passwordDigest(nonceBytes, created, password) +
           "</wsse:Password><wsse:Nonce "
           "EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
           base64Encode(nonceBytes) + "</wsse:Nonce><wsu:Created>" + escapeXml(created) +
           "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

std::string formatTime(std::chrono::system_clock::time_point t)
{
    std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

} // namespace camsim
