// Reading one HTTP request of a hub connection without waiting on its
// sender: the bytes arrive in pieces, each piece is judged as it comes
// (declared length, size bound, chunked framing), and a complete request is
// read as a Notify by the runtime from the bytes already received.
#ifndef VEK_HUB_REQUEST_H
#define VEK_HUB_REQUEST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "listener_defences.h"
#include "runtime_start.h"
#include "stdsoap2.h"

struct _ns7__Notify;

namespace vek::hub
{

enum class Progress {
    Incomplete, // more bytes are needed
    Complete,   // the request ends at size()
    Refused     // the request is refused unread (refusal() says why)
};

// The framing of the request on one connection. Fed the bytes of the
// connection from the request's first byte on; the head is read once, the
// body framing is followed where the last call left it.
class RequestFrame
{
  public:
    // Judges bytes (everything received so far for this request, the next
    // request's first bytes possibly after its end). senderDone tells that
    // the sender has closed its side: a body without a declared length
    // ends there.
    Progress judge(std::string_view bytes, bool senderDone);

    bool headComplete() const { return headSize_ != 0; }
    // Valid once the head is complete; the path also once the head is
    // being judged (empty before).
    const std::string &method() const { return method_; }
    const std::string &path() const { return path_; }
    bool keepAlive() const { return keepAlive_; }
    bool expectsContinue() const { return expectContinue_; }
    // The length of the complete request, head and body.
    size_t size() const { return size_; }
    NotifyRefusal refusal() const { return refusal_; }

  private:
    Progress readHead(std::string_view bytes);
    bool readHeader(std::string_view name, std::string_view value);
    Progress followChunks(std::string_view bytes);
    Progress refuse(NotifyRefusal why);

    size_t headSize_ = 0;
    size_t headScanned_ = 0;
    std::string method_;
    std::string path_;
    bool keepAlive_ = false;
    bool expectContinue_ = false;
    bool chunked_ = false;
    bool hasLength_ = false;
    uint64_t contentLength_ = 0;
    size_t chunkCursor_ = 0; // where the next chunk-size line starts
    size_t size_ = 0;
    NotifyRefusal refusal_ = NotifyRefusal::None;
};

// A runtime context that reads one complete request from memory, with the
// settings and bounds of the single-socket listener's context, so that the
// same deserializer reads the Notify. Writes nothing anywhere.
class BufferedNotify
{
  public:
    explicit BufferedNotify(std::string_view request);
    ~BufferedNotify();
    BufferedNotify(const BufferedNotify &) = delete;
    BufferedNotify &operator=(const BufferedNotify &) = delete;

    // The Notify the request carries, in the context's memory; null when it
    // is no Notify.
    struct _ns7__Notify *read();
    // The same for another request, in the same context (set up once: its
    // tables cost more to clear than a small Notify costs to read). What the
    // previous read gave is freed first.
    struct _ns7__Notify *read(std::string_view request);
    // Frees what the last read gave.
    void release();
    struct soap *get() { return &soap_; }

  private:
    static size_t fromBuffer(struct soap *soap, char *buf, size_t len);
    static int sendNothing(struct soap *soap, const char *data, size_t len);

    RuntimeStarted started_;
    struct soap soap_;
    std::string_view rest_;
};

} // namespace vek::hub

#endif // VEK_HUB_REQUEST_H
