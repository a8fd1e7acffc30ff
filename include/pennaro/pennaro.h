/* Everything a host needs to load and drive the Pennaro effect. */
#ifndef PENNARO_PENNARO_H
#define PENNARO_PENNARO_H

#include "errors.h"
#include "host_records.h"
#include "string_table.h"
#include "suite_fill_matte.h"
#include "suite_param_utils.h"
#include "suite_persistent_data.h"
#include "suite_world.h"
#include "suite_world_transform.h"

#endif
