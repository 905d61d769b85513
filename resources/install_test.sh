#!/bin/bash
# A harmless installer check: reports who it runs as, so the privileged runner can be tried out.
set -euo pipefail
echo "install_test: running as $(id -un) (uid $(id -u))"
