#pragma once
// The client library is built with hidden visibility: only what an app maker calls,
// marked AUTOUPDATEKIT_EXPORT, is exported from libautoupdatekit.so.

#define AUTOUPDATEKIT_EXPORT __attribute__((visibility("default")))
