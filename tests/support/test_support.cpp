#include "test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace vektest
{

int openDescriptorCount()
{
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (readdir(dir) != nullptr) {
        ++count;
    }
    closedir(dir);
    return count;
}

LoopbackPeer::LoopbackPeer(std::string responseBody, int status)
{
    std::ostringstream head;
    head << "HTTP/1.1 " << status << (status == 200 ? " OK" : " Error") << "\r\n"
         << "Content-Type: application/soap+xml; charset=utf-8\r\n"
         << "Content-Length: " << responseBody.size() << "\r\n"
         << "Connection: close\r\n\r\n";
    response_ = head.str() + responseBody;

    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 16) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        throw std::runtime_error("loopback peer cannot listen");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackPeer::~LoopbackPeer()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    thread_.join();
    close(listenFd_);
}

std::string LoopbackPeer::url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackPeer::requests() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

std::string LoopbackPeer::lastBody() const
{
    std::lock_guard<std::mutex> guard(lock_);
    if (requests_.empty()) {
        return {};
    }
    const std::string &request = requests_.back();
    size_t split = request.find("\r\n\r\n");
    return split == std::string::npos ? std::string() : request.substr(split + 4);
}

namespace
{
// Reads one HTTP request with a Content-Length body (bounded in time).
std::string readRequest(int fd)
{
    std::string data;
    char buf[4096];
    size_t expected = std::string::npos;
    while (true) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 3000) <= 0) {
            break;
        }
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            break;
        }
        data.append(buf, static_cast<size_t>(n));
        size_t split = data.find("\r\n\r\n");
        if (split != std::string::npos && expected == std::string::npos) {
            std::string head = data.substr(0, split);
            for (char &c : head) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            size_t pos = head.find("content-length:");
            expected =
                split + 4 + (pos == std::string::npos ? 0 : std::stoul(head.substr(pos + 15)));
        }
        if (expected != std::string::npos && data.size() >= expected) {
            break;
        }
    }
    return data;
}
} // namespace

void LoopbackPeer::serve()
{
    while (true) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_) {
                return;
            }
        }
        pollfd pfd{listenFd_, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0) {
            continue;
        }
        int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        std::string request = readRequest(fd);
        {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.push_back(request);
        }
        size_t sent = 0;
        while (sent < response_.size()) {
            ssize_t n = send(fd, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += static_cast<size_t>(n);
        }
        close(fd);
    }
}

namespace
{
// Position of the start tag "<name" or "<prefix:name" (followed by space,
// '>' or '/'), searching from pos.
size_t findStartTag(const std::string &xml, const std::string &localName, size_t pos)
{
    while ((pos = xml.find('<', pos)) != std::string::npos) {
        size_t nameStart = pos + 1;
        size_t nameEnd = xml.find_first_of(" \t\r\n/>", nameStart);
        if (nameEnd == std::string::npos) {
            return std::string::npos;
        }
        std::string name = xml.substr(nameStart, nameEnd - nameStart);
        size_t colon = name.find(':');
        if (colon != std::string::npos) {
            name.erase(0, colon + 1);
        }
        if (name == localName && xml[nameStart] != '/') {
            return pos;
        }
        pos = nameStart;
    }
    return std::string::npos;
}
} // namespace

std::string elementXml(const std::string &xml, const std::string &localName)
{
    size_t start = findStartTag(xml, localName, 0);
    if (start == std::string::npos) {
        return {};
    }
    size_t tagEnd = xml.find('>', start);
    if (tagEnd == std::string::npos) {
        return {};
    }
    if (xml[tagEnd - 1] == '/') {
        return xml.substr(start, tagEnd + 1 - start);
    }
    std::string qname =
        xml.substr(start + 1, xml.find_first_of(" \t\r\n/>", start + 1) - start - 1);
    size_t end = xml.find("</" + qname, tagEnd);
    if (end == std::string::npos) {
        return {};
    }
    end = xml.find('>', end);
    return xml.substr(start, end + 1 - start);
}

std::string elementText(const std::string &xml, const std::string &localName)
{
    std::string element = elementXml(xml, localName);
    size_t open = element.find('>');
    size_t close = element.rfind("</");
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return {};
    }
    std::string text = element.substr(open + 1, close - open - 1);
    size_t first = text.find_first_not_of(" \t\r\n");
    size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

OnvifSimpleItem item(const std::string &name, const std::string &value)
{
    OnvifSimpleItem it{};
    vekfix::copyText(it.Name, name);
    vekfix::copyText(it.Value, value);
    return it;
}

OnvifSimpleItem valueIndexed(const std::string &name, const std::string &value, int32_t origin)
{
    OnvifSimpleItem it = item(name, value);
    it.ValueHasIndex = 1;
    it.ValueIndex = origin;
    return it;
}

OnvifAlarmReport *receiveNotify(int listenFd, OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                                const char *url, uint32_t *count, uint32_t *connected)
{
    *connected = 0;
    for (int i = 0; i < 300; ++i) {
        OnvifAlarmReport *reports =
            VEK_Onvif_Recv_Notify(listenFd, cfg, inputs, url, count, connected);
        if (*connected != 0) {
            return reports;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

} // namespace vektest
