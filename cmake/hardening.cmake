# Fuzzers, sanitizer builds and the C++ test hosts.
