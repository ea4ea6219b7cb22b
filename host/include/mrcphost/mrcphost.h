/* The host layer's public API, as plugins and clients use it. */
#ifndef MRCPHOST_MRCPHOST_H
#define MRCPHOST_MRCPHOST_H

#include "host_apt.h"
#include "host_engine.h"
#include "host_mpf.h"
#include "host_mrcp_message.h"

#endif /* MRCPHOST_MRCPHOST_H */
