// The shared client library takes all its code from the module's own archives.
