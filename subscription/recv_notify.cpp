// The notification listener: takes at most one waiting connection from the
// caller's listening socket, reads one Notify and translates it.
#include <poll.h>

#include <ctime>

#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event_soap.h"
#include "vek_soap_context.h"
#include "vek_subscription_internal.h"

namespace
{

constexpr int kNotifyTimeoutSeconds = 1;
// A negative time-out counts microseconds: accept only what already waits.
constexpr int kAcceptNoWait = -1;

// A context that lives on the stack for one call and borrows the caller's
// listening socket; it gives the socket back before tearing down. Every
// byte read from the accepted connection is counted, and reading stops at
// the size bound.
class ListenerContext
{
  public:
    // The runtime's constructor of soap_ has initialised the context
    // already; a second soap_init would only clear it again.
    explicit ListenerContext(int32_t listenFd) : listenFd_(listenFd)
    {
        soap_.recv_timeout = kNotifyTimeoutSeconds;
        soap_.send_timeout = kNotifyTimeoutSeconds;
        soap_.connect_timeout = kNotifyTimeoutSeconds;
        soap_.accept_timeout = kAcceptNoWait;
        soap_.master = listenFd;
        soap_set_namespaces(&soap_, eventNamespaces);
        soap_.imode |= vek::kEventModes;
        soap_.omode |= vek::kEventModes;
        // What one connection may cost besides its size: total time and
        // nesting depth.
        soap_.transfer_timeout = vek::kNotifyTransferSeconds;
        soap_.maxlevel = vek::kNotifyMaxDepth;
        innerRecv_ = soap_.frecv;
        soap_.frecv = &ListenerContext::boundedRecv;
        soap_.user = this;
    }
    ~ListenerContext()
    {
        if (soap_.master == listenFd_) {
            soap_.master = SOAP_INVALID_SOCKET;
        }
        soap_delete(&soap_, nullptr);
        soap_end(&soap_);
        soap_done(&soap_);
    }
    ListenerContext(const ListenerContext &) = delete;
    ListenerContext &operator=(const ListenerContext &) = delete;

    struct soap *get() { return &soap_; }
    // True when the sender went past the size bound.
    bool oversized() const { return oversized_; }

  private:
    static size_t boundedRecv(struct soap *soap, char *buf, size_t len)
    {
        auto *self = static_cast<ListenerContext *>(soap->user);
        uint64_t room = vek::kNotifyMaxBytes - self->received_;
        if (room == 0) {
            self->oversized_ = true;
            return 0; // seen by the runtime as the end of input
        }
        size_t n = self->innerRecv_(soap, buf, len < room ? len : static_cast<size_t>(room));
        self->received_ += n;
        return n;
    }

    struct soap soap_;
    int32_t listenFd_;
    size_t (*innerRecv_)(struct soap *, char *, size_t) = nullptr;
    uint64_t received_ = 0;
    bool oversized_ = false;
};

} // namespace

extern "C" VEK_ONVIF_API OnvifAlarmReport *
VEK_Onvif_Recv_Notify(int32_t sockFd, OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                      const char *url, uint32_t *reportCount, uint32_t *connected)
{
    constexpr const char *kFunc = "VEK_Onvif_Recv_Notify";
    if (url == nullptr || url[0] == '\0' || reportCount == nullptr || cfg == nullptr ||
        inputs == nullptr) {
        VEK_LOG(vek::kLevelError, 102, kFunc, "Invalid input Param.");
        return nullptr;
    }
    // Most calls find nothing waiting: answer them without setting up a
    // SOAP context. The result is the same as an accept that found nothing.
    pollfd waiting{sockFd, POLLIN, 0};
    if (poll(&waiting, 1, 0) != 1 || (waiting.revents & POLLIN) == 0) {
        *connected = 0;
        return nullptr;
    }
    ListenerContext context(sockFd);
    struct soap *soap = context.get();
    uint32_t code = VEK_Onvif_HeaderEnc(VEK_ONVIF_ACTION_NOTIFY, url, soap);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "VEK_Onvif_HeaderEnc is failed.");
        return nullptr;
    }
    __ns15__Notify notify;
    notify.ns7__Notify = nullptr;
    if (!soap_valid_socket(soap_accept(soap))) {
        *connected = 0;
        return nullptr;
    }
    *connected = 1;
    // The runtime counts the total transfer time from here; the first read
    // below comes before it would set the start itself.
    soap->start = static_cast<ULONG64>(std::time(nullptr));
    if (soap_recv(soap) != SOAP_OK) {
        // Nothing arrived. Close the connection here, once: the teardown
        // must not close the descriptor again.
        __wrap_close(static_cast<int>(soap->socket));
        soap->socket = SOAP_INVALID_SOCKET;
        return nullptr;
    }
    if (soap_recv___ns15__Notify(soap, &notify) != SOAP_OK) {
        if (context.oversized()) {
            VEK_LOG(vek::kLevelError, 112, kFunc, "Notify refused: larger than %u bytes, Url:%s",
                    static_cast<unsigned>(vek::kNotifyMaxBytes), url);
        }
        VEK_SOAP_PUB_LogPrintImp(soap, vek::kEventSource, __LINE__, kFunc,
                                 "[Soap err:%ld]LogPrint: Failed to VEK_Onvif_Recv_Notify, Url:%s",
                                 static_cast<long>(soap->error), url);
        return nullptr;
    }
    if (notify.ns7__Notify == nullptr) {
        return nullptr;
    }
    return VEK_Onvif_TransAlarmType(cfg, inputs, notify.ns7__Notify, reportCount);
}
