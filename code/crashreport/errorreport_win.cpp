#include "code/crashreport/errorreport.h"

void ErrorReport::Send() {}
