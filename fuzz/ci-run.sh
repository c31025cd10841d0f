#!/usr/bin/env bash
# CI's fuzzing: the three harnesses (deck, field, kit), built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, for a short fixed time over the kept corpus
# (every past finding is in it). campaign.sh installs clang and its run-times
# (tools/debian-packages-fuzz.txt) when they are missing.
set -euo pipefail
FUZZ_SECONDS="${FUZZ_SECONDS:-60}" exec "$(dirname "$0")/campaign.sh"
