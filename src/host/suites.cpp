// Acquiring and releasing host suites through the basic suite table.
#include "host/suites.h"

namespace pennaro {

namespace {

void reportSuiteFailure(const HostInData *in, HostOutData *out, const char *text) {
    out->outFlags |= HOST_OUT_FLAG_DISPLAY_ERROR;
    // The texts hold no "%", so they serve as their own format.
    in->utils->formatText(out->message, text);
}

}  // namespace

int32_t AcquireSuite(const HostInData *in, HostOutData *out, const char *name, int32_t version,
                     const char *failureText, const void **suite) {
    *suite = nullptr;
    if (in->basicSuite) {
        // The entry's own result says nothing: only the pointer counts.
        in->basicSuite->acquireSuite(name, version, suite);
        if (*suite) return 0;
    }
    reportSuiteFailure(in, out, failureText ? failureText : "Not able to acquire OVFX Suite.");
    return HOST_ERR_SUITE;
}

int32_t ReleaseSuite(const HostInData *in, HostOutData *out, const char *name, int32_t version,
                     const char *failureText) {
    if (!in->basicSuite) {
        reportSuiteFailure(in, out, failureText ? failureText : "Not able to release OVFX Suite.");
        return HOST_ERR_SUITE;
    }
    in->basicSuite->releaseSuite(name, version);
    return 0;
}

}  // namespace pennaro
