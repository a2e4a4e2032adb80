#include "error_record.h"

#include <cstring>

namespace vek
{
namespace
{

struct ThreadRecord {
    OnvifErrorInfo info{};
    int depth = 0;
};

thread_local ThreadRecord gRecord;

template <size_t N> void copyText(char (&field)[N], std::string_view text)
{
    size_t length = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

void clearDetails(OnvifErrorInfo &info)
{
    char operation[sizeof info.szOperation];
    std::memcpy(operation, info.szOperation, sizeof operation);
    info = OnvifErrorInfo{};
    std::memcpy(info.szOperation, operation, sizeof operation);
}

uint32_t kindOfCode(uint32_t result)
{
    switch (result) {
    case VEK_ONVIF_ERR_NULL:
    case VEK_ONVIF_ERR_PARAM:
        return VEK_ONVIF_FAIL_ARGUMENT;
    case VEK_ONVIF_ERR_NOMEM:
        return VEK_ONVIF_FAIL_MEMORY;
    default:
        return VEK_ONVIF_FAIL_LOCAL;
    }
}

} // namespace

OperationRecord::OperationRecord(const char *operation) : outermost_(gRecord.depth++ == 0)
{
    if (outermost_) {
        gRecord.info = OnvifErrorInfo{};
        copyText(gRecord.info.szOperation, operation != nullptr ? operation : "");
    }
}

OperationRecord::~OperationRecord()
{
    --gRecord.depth;
}

uint32_t OperationRecord::finish(uint32_t result)
{
    if (!outermost_) {
        return result;
    }
    OnvifErrorInfo &info = gRecord.info;
    if (result == VEK_ONVIF_OK) {
        info = OnvifErrorInfo{};
        return result;
    }
    info.ulResult = result;
    if (info.ulKind == VEK_ONVIF_FAIL_NONE) {
        info.ulKind = kindOfCode(result);
    }
    return result;
}

void noteFailure(uint32_t kind, std::string_view reason)
{
    OnvifErrorInfo &info = gRecord.info;
    if (info.ulKind != VEK_ONVIF_FAIL_NONE) {
        if (info.szReason[0] == '\0') {
            copyText(info.szReason, reason);
        }
        return;
    }
    info.ulKind = kind;
    copyText(info.szReason, reason);
}

void noteHttpStatus(uint32_t status)
{
    gRecord.info.ulHttpStatus = status;
}

void noteFault(std::string_view subcode, std::string_view reason)
{
    OnvifErrorInfo &info = gRecord.info;
    copyText(info.szFaultSubcode, subcode);
    if (!reason.empty()) {
        copyText(info.szReason, reason);
    }
}

void noteClockOffset(int64_t offset)
{
    gRecord.info.s64ClockOffset = offset;
}

void noteAttempts(uint32_t attempts)
{
    gRecord.info.ulAttempts = attempts;
}

void noteTlsFingerprint(std::string_view sha256Hex)
{
    copyText(gRecord.info.szTlsFingerprint, sha256Hex);
}

void startExchangeRecord()
{
    clearDetails(gRecord.info);
}

} // namespace vek

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_GetLastError(OnvifErrorInfo *pstInfo)
{
    if (pstInfo == nullptr) {
        return VEK_ONVIF_ERR_PARAM;
    }
    *pstInfo = vek::gRecord.info;
    return VEK_ONVIF_OK;
}
