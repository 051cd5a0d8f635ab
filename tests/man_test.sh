#!/bin/bash
# The man page must render without a single groff warning.
set -eu
warnings=$(groff -man -ww -z "$1" 2>&1)
if [ -n "$warnings" ]; then
    echo "$warnings"
    exit 1
fi
