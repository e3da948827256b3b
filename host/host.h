// The host operator interface that the tools are written against.
//
//   textid.h    identifiers built from texts
//   tags.h      tag lists and the tag numbers of records and attributes
//   object.h    the class chain and reference counts
//   image.h     images, pixel records, cursors, sampling
//   operator.h  requests, inputs, outputs, operators, worker threads
//   registry.h  the class list and registration records
//   random.h    the per-thread pseudo-random generator
#pragma once

#include "host/image.h"
#include "host/object.h"
#include "host/operator.h"
#include "host/random.h"
#include "host/registry.h"
#include "host/tags.h"
#include "host/textid.h"
