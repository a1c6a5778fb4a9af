#include "platform/system_services.h"

bool WebUtils::IsPortConflict(const std::string&, int, int) { return true; }
int OLIBCExec(const char*, const char*, const char*, const char*, const char*) { return -1; }
int OLIBCFileSetSectionValue(const char*, const char*, const char*, const char*) { return -1; }
int ORVAFwRuleHup(void) { return -1; }
