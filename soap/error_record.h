// The calling thread's record of why its last operation failed
// (VEK_Onvif_GetLastError). An exported operation opens an OperationRecord
// when it starts, which clears the record; each failure is noted where it
// is seen (the frame of an exchange, the TLS layer, the listener, an
// operation's own checks) with its kind and what is known of it, and the
// operation's result is written when it returns. Nothing here reads log
// text.
#ifndef VEK_ERROR_RECORD_H
#define VEK_ERROR_RECORD_H

#include <cstdint>
#include <string_view>

#include "vek_onvif_event.h"

namespace vek
{

// While it lives, the calling thread's record belongs to one exported
// operation. Operations that call one another share the outermost one's
// record: only the outermost clears it and writes the result.
class OperationRecord
{
  public:
    explicit OperationRecord(const char *operation);
    ~OperationRecord();
    OperationRecord(const OperationRecord &) = delete;
    OperationRecord &operator=(const OperationRecord &) = delete;

    // The operation's result, returned: 0 leaves the record empty; any
    // other code is written with the kind noted, or, when no failure was
    // noted, the kind the code itself tells (an argument, memory, else the
    // recorder's side).
    uint32_t finish(uint32_t result);

  private:
    bool outermost_;
};

// A failure seen: its kind and what failed in words (cut to the field). The
// first failure noted in an exchange stands; later notes of the same
// exchange only add what is still empty.
void noteFailure(uint32_t kind, std::string_view reason);
// What an answer told.
void noteHttpStatus(uint32_t status);
void noteFault(std::string_view subcode, std::string_view reason);
void noteClockOffset(int64_t offset);
void noteAttempts(uint32_t attempts);
void noteTlsFingerprint(std::string_view sha256Hex);
// Starts the record of one more exchange in the same operation: what an
// earlier one noted goes, the operation's name stays.
void startExchangeRecord();

} // namespace vek

#endif // VEK_ERROR_RECORD_H
