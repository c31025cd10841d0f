#!/usr/bin/env bash
# CI's fuzzing: the three harnesses (deck, field, kit), built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, for a short fixed time over the kept corpus
# (every past finding is in it).
set -euo pipefail
FUZZ_SECONDS="${FUZZ_SECONDS:-60}" exec "$(dirname "$0")/campaign.sh"
