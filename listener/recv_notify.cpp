// The notification listener: takes at most one waiting connection from the
// caller's listening socket, reads one Notify and translates it.
#include <poll.h>

#include "error_record.h"
#include "listener_defences.h"
#include "request_headers.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event_soap.h"
#include "vek_subscription_internal.h"

namespace
{

// Why a request could not be read as a Notify: the listener's own refusal
// when it made one, then the runtime's report.
void logUnreadNotify(vek::ListenerContext &context, const char *url, const char *func)
{
    if (context.refusal() == vek::NotifyRefusal::Oversized) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, func,
                "Notify refused: larger than %u bytes, Url:%s",
                static_cast<unsigned>(vek::kNotifyMaxBytes), url);
    } else if (context.refusal() == vek::NotifyRefusal::BadLength) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, func,
                "Notify refused: Content-Length is not a size in bytes, Url:%s", url);
    }
    VEK_SOAP_PUB_LogPrintImp(context.get(), vek::kEventSource, __LINE__, func,
                             "[Soap err:%ld]LogPrint: Failed to VEK_Onvif_Recv_Notify, Url:%s",
                             static_cast<long>(context.get()->error), url);
}

// The kind of a request that could not be read as a Notify, as the
// listener's defences saw it.
void noteUnreadNotify(vek::ListenerContext &context)
{
    switch (context.refusal()) {
    case vek::NotifyRefusal::Oversized:
        vek::noteFailure(VEK_ONVIF_FAIL_TOO_LARGE, "the request is larger than the bound");
        break;
    case vek::NotifyRefusal::TooSlow:
        vek::noteFailure(VEK_ONVIF_FAIL_TIMEOUT, "no complete request in time");
        break;
    case vek::NotifyRefusal::BadLength:
        vek::noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER, "Content-Length is not a size in bytes");
        break;
    case vek::NotifyRefusal::None:
        vek::noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER, "the request is not a Notify");
        break;
    }
}

} // namespace

extern "C" VEK_ONVIF_API OnvifAlarmReport *
VEK_Onvif_Recv_Notify(int32_t sockFd, OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                      const char *url, uint32_t *reportCount, uint32_t *connected)
{
    constexpr const char *kFunc = "VEK_Onvif_Recv_Notify";
    vek::OperationRecord record(kFunc);
    if (url == nullptr || url[0] == '\0' || reportCount == nullptr || cfg == nullptr ||
        inputs == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        record.finish(VEK_ONVIF_ERR_PARAM);
        return nullptr;
    }
    // Most calls find nothing waiting: answer them without setting up a
    // SOAP context. The result is the same as an accept that found nothing.
    pollfd waiting{sockFd, POLLIN, 0};
    if (poll(&waiting, 1, 0) != 1 || (waiting.revents & POLLIN) == 0) {
        *connected = 0;
        return nullptr;
    }
    vek::ListenerContext context(sockFd);
    struct soap *soap = context.get();
    uint32_t code = vek::writeAddressingHeader(vek::actionUri(vek::Action::Notify), url, soap);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "%s", vek::kHeaderEncFailed);
        record.finish(code);
        return nullptr;
    }
    __ns15__Notify notify;
    notify.ns7__Notify = nullptr;
    if (!context.accept()) {
        *connected = 0;
        return nullptr;
    }
    *connected = 1;
    if (!context.admit(url, kFunc)) {
        vek::noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER, "Notify refused: the sender is not the camera");
        record.finish(VEK_ONVIF_ERR_FAIL);
        return nullptr;
    }
    if (soap_recv(soap) != SOAP_OK) {
        // Nothing arrived: the connection is closed without an answer.
        context.closeConnection();
        if (context.refusal() == vek::NotifyRefusal::TooSlow) {
            vek::noteFailure(VEK_ONVIF_FAIL_TIMEOUT, "no request in time");
        } else {
            vek::noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER,
                             "the sender closed the connection without a request");
        }
        record.finish(VEK_ONVIF_ERR_SOAP);
        return nullptr;
    }
    if (soap_recv___ns15__Notify(soap, &notify) != SOAP_OK) {
        logUnreadNotify(context, url, kFunc);
        noteUnreadNotify(context);
        bool refused = context.refusal() == vek::NotifyRefusal::Oversized ||
                       context.refusal() == vek::NotifyRefusal::BadLength;
        record.finish(refused ? VEK_ONVIF_ERR_FAIL : VEK_ONVIF_ERR_SOAP);
        context.answer(vek::NotifyAnswer::NotNotify);
        return nullptr;
    }
    if (notify.ns7__Notify == nullptr) {
        vek::noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER, "the request is not a Notify");
        record.finish(VEK_ONVIF_ERR_SOAP);
        context.answer(vek::NotifyAnswer::NotNotify);
        return nullptr;
    }
    // The camera has delivered: it is answered before the translation,
    // whatever the messages give.
    context.answer(vek::NotifyAnswer::Accepted);
    return VEK_Onvif_TransAlarmType(cfg, inputs, notify.ns7__Notify, reportCount);
}
