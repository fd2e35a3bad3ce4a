// The service's log statements: HLX_LOG(INFO) << ...; as glog's LOG, except that a message below
// the lowest severity written (FLAGS_minloglevel) is not built at all: no formatting, no time stamp,
// one comparison. StartLogging raises that level past every severity when logging is off.
#pragma once

#include <glog/logging.h>

// Whether a message of `severity` would be written; for callers that build a message in parts first.
#define HLX_LOG_IS_ON(severity) (google::GLOG_##severity >= FLAGS_minloglevel)
#define HLX_LOG(severity) LOG_IF(severity, HLX_LOG_IS_ON(severity))
