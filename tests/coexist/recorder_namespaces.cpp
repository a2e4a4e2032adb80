// The recorder module's global namespace table, the one the system gSOAP
// runtime gives every new context.
#include "recorder.nsmap"
