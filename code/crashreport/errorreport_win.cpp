#include "code/crashreport/errorreport.h"

// Sending arrives with the HTTP client and the run log.
void ErrorReport::Send() {}
