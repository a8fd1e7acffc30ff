/* Error codes the host and the effect exchange: every host service and
 * every command returns one, 0 for success; host codes pass through the
 * effect unchanged. */
#ifndef PENNARO_ERRORS_H
#define PENNARO_ERRORS_H

#define HOST_ERR_NONE 0
#define HOST_ERR_OUT_OF_MEMORY 4
/* Something that cannot happen with a well-behaved partner: a missing
 * callback, an exception caught at an entry point. */
#define HOST_ERR_INTERNAL 7
#define HOST_ERR_BAD_PARAM 9
#define HOST_ERR_INVALID_CALLBACK 10
/* A host suite could not be acquired or released. */
#define HOST_ERR_SUITE 516
/* Data the command needs is not there (flatten without a drawing, no
 * preference store). */
#define HOST_ERR_DATA_MISSING 517

#endif
