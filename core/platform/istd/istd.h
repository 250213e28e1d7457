#ifndef ISTD_ISTD_H
#define ISTD_ISTD_H

// Everything of the standard-utility layer in one include.

#include "istd/any.h"
#include "istd/assert.h"
#include "istd/convert.h"
#include "istd/daemon.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/id.h"
#include "istd/log.h"
#include "istd/prog_opt_multi_val.h"
#include "istd/signal_handler.h"
#include "istd/time.h"
#include "istd/trace.h"
#include "istd/trace_capture.h"
#include "istd/ver_info.h"

#endif
