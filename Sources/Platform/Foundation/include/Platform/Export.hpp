#pragma once
// The platform layer is built with hidden visibility; what the client library's public
// headers use from it is marked with PLATFORM_EXPORT so the shared library exports it.

#define PLATFORM_EXPORT __attribute__((visibility("default")))
