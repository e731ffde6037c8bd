#!/usr/bin/env bash
# Checks that every C++ source and header is formatted as .clang-format wants; changes nothing.
exec "$(dirname "$0")/format.sh" --check
